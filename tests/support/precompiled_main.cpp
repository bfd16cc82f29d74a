// The program that compiles a test folder's shared headers once; it is never run.
int main()
{
    return 0;
}
