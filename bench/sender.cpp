// Sends prepared datagrams to 127.0.0.1 faster than scale-sim can: up to 64
// per sendmmsg() call, on a fixed schedule of RATE a second, cycling through
// FILE (one datagram per line, bytes in hex, as `scale-sim --hex` writes them) until
// COUNT were sent. It ends with scale-sim's own summary lines.
//
//   bench-sender PORT RATE COUNT FILE
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s PORT RATE COUNT FILE\n", argv[0]);
        return 2;
    }
    const double rate = std::atof(argv[2]);
    const long count = std::atol(argv[3]);
    std::vector<std::string> datagrams;
    std::ifstream in(argv[4]);
    for (std::string hex; std::getline(in, hex);) {
        std::string bytes;
        for (size_t i = 0; i + 1 < hex.size(); i += hex[i] == ' ' ? 1 : 2)
            if (hex[i] != ' ')
                bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
        if (!bytes.empty())
            datagrams.push_back(bytes);
    }
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(std::atoi(argv[1])));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (datagrams.empty() || sock < 0 || connect(sock, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        std::perror("bench-sender");
        return 1;
    }

    constexpr int batch = 64;
    iovec iov[batch];
    mmsghdr messages[batch]{};
    const auto start = std::chrono::steady_clock::now();
    long sent = 0;
    while (sent < count) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const long due = std::min<long>(count, long(seconds * rate) + 1);
        if (due <= sent) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            continue;
        }
        const int n = int(std::min<long>(batch, due - sent));
        for (int i = 0; i < n; ++i) {
            std::string &d = datagrams[size_t(sent + i) % datagrams.size()];
            iov[i] = {d.data(), d.size()};
            messages[i].msg_hdr.msg_iov = &iov[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int done = sendmmsg(sock, messages, unsigned(n), 0);
        if (done < 0) {
            std::perror("bench-sender: sendmmsg");
            return 1;
        }
        sent += done;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("datagrams:          %ld\nelapsed:            %.3f s\nrate:               %.0f datagrams/s\n",
                sent, seconds, sent / seconds);
    return 0;
}
