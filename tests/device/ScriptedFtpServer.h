#pragma once

// A one-connection FTP server on 127.0.0.1 for the cases a real server will not produce on
// demand. A script drives the control connection on the server's own thread; the standard
// dialogue answers like a well-behaved server unless an override answers first.

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

class FtpScriptSession
{
public:
    explicit FtpScriptSession(int fd)
        : fd_(fd)
    {
        int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }

    // Sends bytes as they are; `pauseMs` afterwards lets the client read them as one chunk.
    void send(const std::string &bytes, int pauseMs = 0)
    {
        ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (pauseMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }

    // Whether the client has sent something (or closed) within `waitMs`.
    bool hasInput(int waitMs = 0)
    {
        pollfd p { fd_, POLLIN, 0 };
        return !buffer_.empty() || ::poll(&p, 1, waitMs) > 0;
    }

    // One command line without its CR LF; false when the client closed or went silent.
    bool readLine(std::string *line)
    {
        for (;;) {
            const size_t end = buffer_.find("\r\n");
            if (end != std::string::npos) {
                *line = buffer_.substr(0, end);
                buffer_.erase(0, end + 2);
                commands.push_back(*line);
                return true;
            }
            pollfd p { fd_, POLLIN, 0 };
            if (::poll(&p, 1, 30000) <= 0)
                return false;
            char chunk[4096];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0)
                return false;
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

    // Connects to the address of the last PORT command and reads until the client closes.
    std::optional<std::string> receiveData()
    {
        const int d = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(d, reinterpret_cast<sockaddr *>(&dataAddress), sizeof dataAddress) < 0) {
            ::close(d);
            return std::nullopt;
        }
        std::string bytes;
        char chunk[65536];
        for (;;) {
            const ssize_t n = ::recv(d, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            bytes.append(chunk, static_cast<size_t>(n));
        }
        ::close(d);
        return bytes;
    }

    bool parsePort(const std::string &line)
    {
        unsigned a, b, c, d, hi, lo;
        if (std::sscanf(line.c_str(), "PORT %u,%u,%u,%u,%u,%u", &a, &b, &c, &d, &hi, &lo) != 6)
            return false;
        dataAddress = {};
        dataAddress.sin_family = AF_INET;
        dataAddress.sin_addr.s_addr = htonl((a << 24) | (b << 16) | (c << 8) | d);
        dataAddress.sin_port = htons(static_cast<uint16_t>((hi << 8) | lo));
        return true;
    }

    std::vector<std::string> commands;
    std::map<std::string, std::string> files; // the server's folder: name -> contents
    sockaddr_in dataAddress {};

private:
    int fd_;
    std::string buffer_;
};

// Answers a command line instead of the standard dialogue; nullopt leaves it to the dialogue.
using FtpOverride = std::function<std::optional<std::string>(const std::string &line)>;

// A polite server: greeting, login with password, every command accepted, files kept in
// `files`. Ends after QUIT, a 421 reply or when the client goes away.
inline void standardDialogue(FtpScriptSession &s, const FtpOverride &override = {},
    const std::string &greeting = "220 ready\r\n")
{
    s.send(greeting);
    std::string line, renameFrom;
    while (s.readLine(&line)) {
        const std::string verb = line.substr(0, line.find(' '));
        const std::string argument = line.size() > verb.size() ? line.substr(verb.size() + 1) : "";
        if (verb == "PORT")
            s.parsePort(line);
        if (override) {
            if (const std::optional<std::string> reply = override(line)) {
                s.send(*reply);
                if (reply->rfind("421", 0) == 0)
                    return;
                continue;
            }
        }
        if (verb == "USER") {
            s.send("331 password please\r\n");
        } else if (verb == "PASS") {
            s.send("230 logged in\r\n");
        } else if (verb == "CWD") {
            s.send("250 ok\r\n");
        } else if (verb == "TYPE" || verb == "PORT") {
            s.send("200 ok\r\n");
        } else if (verb == "STOR") {
            s.send("150 opening\r\n");
            if (std::optional<std::string> bytes = s.receiveData()) {
                s.files[argument] = *bytes;
                s.send("226 stored\r\n");
            } else {
                s.send("425 no data connection\r\n");
            }
        } else if (verb == "DELE") {
            s.send(s.files.erase(argument) ? "250 deleted\r\n" : "550 no such file\r\n");
        } else if (verb == "RNFR") {
            renameFrom = argument;
            s.send(s.files.count(argument) ? "350 ready\r\n" : "550 no such file\r\n");
        } else if (verb == "RNTO") {
            s.files[argument] = s.files[renameFrom];
            s.files.erase(renameFrom);
            s.send("250 renamed\r\n");
        } else if (verb == "ABOR") {
            s.send("226 aborted\r\n");
        } else if (verb == "QUIT") {
            s.send("221 bye\r\n");
            return;
        } else {
            s.send("502 not implemented\r\n");
        }
    }
}

class ScriptedFtpServer
{
public:
    using Script = std::function<void(FtpScriptSession &)>;

    explicit ScriptedFtpServer(Script script)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(listener_, 4);
        socklen_t length = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &length);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this, script = std::move(script)] {
            pollfd p { listener_, POLLIN, 0 };
            if (::poll(&p, 1, 20000) <= 0)
                return;
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0)
                return;
            connected_ = true;
            FtpScriptSession session(fd);
            script(session);
            ::close(fd);
            commands_ = session.commands;
            files_ = session.files;
        });
    }

    ~ScriptedFtpServer()
    {
        // Unblocks an accept that no client will ever satisfy.
        if (!connected_)
            ::shutdown(listener_, SHUT_RDWR);
        finish();
        ::close(listener_);
    }

    int port() const { return port_; }

    // Waits for the session to end (the client has finished), then reads what it saw.
    void finish()
    {
        if (thread_.joinable())
            thread_.join();
    }
    bool connected() const { return connected_; }
    std::vector<std::string> commands() const { return commands_; }
    std::map<std::string, std::string> files() const { return files_; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> connected_ { false };
    std::vector<std::string> commands_;
    std::map<std::string, std::string> files_;
};
