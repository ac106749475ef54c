#pragma once

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumidex::test {

// A TCP port on 127.0.0.1 that nothing listens on now.
int FreePort();

// A CA of the test's own, made with openssl: DIR/NAME.crt and DIR/NAME.key.
void MakeCa(const std::filesystem::path& dir, const std::string& name);
// A server certificate DIR/NAME.crt (key DIR/NAME.key) signed by the CA
// DIR/CA.crt, naming `alt_name` ("IP:127.0.0.1", "DNS:host"), valid for
// `days` days; 0 makes one that expires within the second.
void MakeServerCertificate(const std::filesystem::path& dir, const std::string& ca,
                           const std::string& name, const std::string& alt_name, int days);

// A mosquitto broker of the test's own on 127.0.0.1, without persistence,
// with a configuration written for it; optionally TLS with a certificate
// made for 127.0.0.1 (the CA is `ca_file()`), and a password file with one
// user. Stopped and started again it has forgotten everything.
class Broker {
public:
    struct Options {
        bool tls = false;
        std::string user;
        std::string password;
        int port = 0;       // 0: a free port
        std::string extra;  // further configuration (listeners of a test's own)
        bool start = true;  // false: started later with Start()
    };
    Broker(const std::filesystem::path& dir, const Options& options);
    ~Broker();
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;

    // Starts it and waits until it takes connections.
    void Start();
    void Stop();

    int port() const { return port_; }
    const std::filesystem::path& ca_file() const { return ca_file_; }
    // The client arguments that reach this broker (host, port, TLS, login).
    std::vector<std::string> ClientArgs() const;

private:
    std::filesystem::path dir_;
    Options options_;
    int port_ = 0;
    std::filesystem::path ca_file_;
    std::unique_ptr<ChildProcess> process_;
};

// A mosquitto_sub on a broker, printing "topic payload" for each message
// (an empty payload as "(null)"); it is subscribed once the constructor
// returns, with the retained messages it found then kept for the waits.
class Watch {
public:
    Watch(const Broker& broker, const std::vector<std::string>& patterns);

    // Waits for a message on `topic` whose payload `accept` takes and that
    // no earlier wait took (messages of boards served side by side come in
    // any order); returns its payload. On time-out the test fails with the
    // topic, what was looked for and every message not taken yet.
    std::optional<std::string> WaitFor(const std::string& topic,
                                       const std::function<bool(const std::string&)>& accept,
                                       const std::string& looked_for,
                                       std::chrono::milliseconds timeout);
    // Every message that arrived before the last one WaitFor returned.
    const std::vector<std::string>& Before() const { return before_; }
    // The same for a payload equal to `payload`.
    std::optional<std::string> WaitFor(const std::string& topic, const std::string& payload,
                                       std::chrono::milliseconds timeout);
    // Reads what arrives for `duration`; returns how many messages on
    // `topic` no wait took, and takes them.
    int Count(const std::string& topic, std::chrono::milliseconds duration);
    // The next status JSON on `topic` whose "result" is `result`.
    std::optional<nlohmann::json> WaitForStatus(const std::string& topic, const std::string& result,
                                                std::chrono::milliseconds timeout);

private:
    // The next line that is not the subscription's own probe.
    std::optional<std::string> NextLine(std::chrono::steady_clock::time_point deadline);

    std::unique_ptr<ChildProcess> process_;
    std::string probe_;
    std::vector<std::string> log_; // every message, in arrival order
    std::vector<bool> taken_;
    std::vector<std::string> before_;
};

// Publishes one message with mosquitto_pub (an empty payload as a
// zero-length message); fails the test when it does not go out.
void Publish(const Broker& broker, const std::string& topic, const std::string& payload);

// The retained payload on `topic`, or nothing when there is none.
std::optional<std::string> Retained(const Broker& broker, const std::string& topic);

// lumidex-sim on one loopback address with --json; each frame it takes is
// one JSON object.
class Board {
public:
    // With "--pty" among the extra arguments the board also listens on a
    // pseudo-terminal, named by serial().
    Board(const std::string& address, const std::vector<std::string>& extra = {});
    const std::string& serial() const { return serial_; }
    // The next frame the board took, or nothing within the time-out.
    std::optional<nlohmann::json> NextFrame(std::chrono::milliseconds timeout);
    void Stop();

private:
    std::unique_ptr<ChildProcess> process_;
    std::string serial_;
};

// The text of line `line` in a frame a Board took, or a note that the
// frame has no such line.
std::string LineText(const nlohmann::json& frame, int line);

// The Config.ini of a board at `address`: line 1 with 4 digits and 2
// decimal places, line 2 with 3 digits and a free point, lines 3..6 not
// sent.
std::string BoardSettings(const std::string& address);

} // namespace lumidex::test
