// A bare TCP peer for scripts: listens on ADDRESS:PORT, accepts one connection, optionally sends
// SAY once, and appends every byte it receives to OUTPUT, as it arrives, until the peer closes
// its side. It never answers anything else, so it stands in for a peer that knows only the
// plain message table.
//
// usage: tcp_record ADDRESS PORT OUTPUT SECONDS [SAY]
// Prints "listening" on standard output once connections are accepted. Exits 0 when the peer
// closed, 1 when SECONDS passed first (waiting for the peer or for its close), 2 on bad use or a
// socket error.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

int fail(const char *what)
{
    std::fprintf(stderr, "tcp_record: %s: %s\n", what, std::strerror(errno));
    return 2;
}

// Waits until fd is readable or the deadline passes; false on timeout.
bool waitReadable(int fd, Clock::time_point deadline)
{
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd entry{fd, POLLIN, 0};
        const int ready = poll(&entry, 1, int(left));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
}

bool writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: %s ADDRESS PORT OUTPUT SECONDS [SAY]\n", argv[0]);
        return 2;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(std::atoi(argv[2])));
    if (inet_pton(AF_INET, argv[1], &address.sin_addr) != 1) {
        std::fprintf(stderr, "tcp_record: not an IPv4 address: %s\n", argv[1]);
        return 2;
    }
    const auto deadline = Clock::now() + std::chrono::seconds(std::atoi(argv[4]));

    const int output = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (output < 0)
        return fail("cannot open the output file");
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    if (listener < 0)
        return fail("socket");
    const int yes = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        return fail("bind");
    if (listen(listener, 1) != 0)
        return fail("listen");
    std::printf("listening\n");
    std::fflush(stdout);

    if (!waitReadable(listener, deadline)) {
        std::fprintf(stderr, "tcp_record: nobody connected in time\n");
        return 1;
    }
    const int peer = accept(listener, nullptr, nullptr);
    if (peer < 0)
        return fail("accept");
    close(listener);
    if (argc == 6 && !writeAll(peer, argv[5], std::strlen(argv[5])))
        return fail("send");

    char buffer[4096];
    for (;;) {
        if (!waitReadable(peer, deadline)) {
            std::fprintf(stderr, "tcp_record: the peer did not close in time\n");
            return 1;
        }
        const ssize_t got = read(peer, buffer, sizeof buffer);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return fail("read");
        }
        if (!writeAll(output, buffer, size_t(got)))
            return fail("write");
    }
    close(peer);
    close(output);
    return 0;
}
