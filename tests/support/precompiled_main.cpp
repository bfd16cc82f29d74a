// The program that compiles the window tests' shared headers once; it is never run.
int main()
{
    return 0;
}
