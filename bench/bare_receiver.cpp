// The least a receiver can do: take datagrams off a UDP socket, up to 64 per
// recvmmsg() call, and append their bytes to FILE with one writev() per
// call; or, with --file-per-datagram, put each datagram in a new file
// DIR/data_N.txt of its own with one write, the least that a file per
// transfer costs. Trelvant's zero-loss rates are measured against this
// one's. It asks for the receive buffer Trelvant asks for, prints "ready"
// once bound, and runs until it is killed.
//
//   bench-bare-receiver PORT FILE
//   bench-bare-receiver PORT DIR --file-per-datagram
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    const bool filePerDatagram = argc == 4 && std::strcmp(argv[3], "--file-per-datagram") == 0;
    if (argc != 3 && !filePerDatagram) {
        std::fprintf(stderr, "usage: %s PORT FILE\n       %s PORT DIR --file-per-datagram\n", argv[0], argv[0]);
        return 2;
    }
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    const int buffer = 4 * 1024 * 1024;
    setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    const int out = filePerDatagram ? 0 : open(argv[2], O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (sock < 0 || out < 0 || bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        std::perror("bench-bare-receiver");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    constexpr int batch = 64;
    static char data[batch][65536];
    iovec in[batch], written[batch];
    mmsghdr messages[batch]{};
    for (int i = 0; i < batch; ++i) {
        in[i] = {data[i], sizeof data[i]};
        messages[i].msg_hdr.msg_iov = &in[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    for (long next = 1;;) {
        const int n = recvmmsg(sock, messages, batch, MSG_WAITFORONE, nullptr);
        for (int i = 0; filePerDatagram && i < n; ++i) {
            const std::string name = std::string(argv[2]) + "/data_" + std::to_string(next++) + ".txt";
            const int file = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (file < 0 || write(file, data[i], messages[i].msg_len) < 0 || close(file) != 0)
                return 1;
        }
        for (int i = 0; !filePerDatagram && i < n; ++i)
            written[i] = {data[i], messages[i].msg_len};
        if (!filePerDatagram && n > 0 && writev(out, written, n) < 0)
            return 1;
    }
}
