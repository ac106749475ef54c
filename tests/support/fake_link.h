#pragma once

// A link without sockets or terminals, for the exchange's and the command
// path's rules: each opening plays the next step of a script (open or not,
// write or not, what the controller answers), and everything the exchange did
// is recorded.
#include "link/link.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumidex::test {

class FakeLink final : public Link {
public:
    using Bytes = std::vector<std::uint8_t>;

    // What one opening of the link does.
    struct Step {
        bool opens = true;
        bool writes = true;
        // The bytes the read returns (empty: none within the time-out), or
        // nothing when the read itself fails.
        std::optional<Bytes> answer = Bytes{};
        std::string error; // the system's message for a failure
    };
    static Step Answers(Bytes bytes) { return {true, true, std::move(bytes), {}}; }
    static Step Silent() { return {true, true, Bytes{}, {}}; }
    static Step CannotOpen(std::string error) { return {false, false, Bytes{}, std::move(error)}; }
    static Step CannotWrite(std::string error) { return {true, false, Bytes{}, std::move(error)}; }
    static Step ReadFails(std::string error) { return {true, true, std::nullopt, std::move(error)}; }

    // What happened, shared with the test that made the link.
    struct Record {
        int opens = 0;
        int closes = 0;
        std::vector<Bytes> written;
        std::vector<std::chrono::milliseconds> read_timeouts;
        bool open_now = false;
    };

    explicit FakeLink(std::vector<Step> script, std::shared_ptr<Record> record = nullptr)
        : script_(std::move(script)),
          record_(record ? std::move(record) : std::make_shared<Record>()) {}

    // The controller's answer with byte 3 = status, `size` bytes long.
    static Bytes Answer(std::uint8_t status, std::size_t size = kReplySize) {
        Bytes bytes(size, 0x00);
        if (size > kReplyStatusByte) {
            bytes[kReplyStatusByte] = status;
        }
        return bytes;
    }

    const Record& record() const { return *record_; }

    bool Open() override {
        step_ = std::min<std::size_t>(static_cast<std::size_t>(record_->opens), script_.size() - 1);
        ++record_->opens;
        error_.clear();
        if (!current().opens) {
            error_ = current().error;
            return false;
        }
        record_->open_now = true;
        return true;
    }
    bool Write(std::span<const std::uint8_t> frame) override {
        if (!current().writes) {
            error_ = current().error;
            return false;
        }
        record_->written.emplace_back(frame.begin(), frame.end());
        return true;
    }
    std::optional<std::size_t> Read(std::span<std::uint8_t> into,
                                    std::chrono::milliseconds timeout) override {
        record_->read_timeouts.push_back(timeout);
        if (!current().answer) {
            error_ = current().error;
            return std::nullopt;
        }
        const Bytes& answer = *current().answer;
        const std::size_t kept = std::min(answer.size(), into.size());
        std::copy_n(answer.begin(), kept, into.begin());
        return kept;
    }
    void Close() override {
        if (record_->open_now) {
            ++record_->closes;
        }
        record_->open_now = false;
    }
    std::string error() const override { return error_; }

private:
    const Step& current() const { return script_[step_]; }

    std::vector<Step> script_;
    std::shared_ptr<Record> record_;
    std::size_t step_ = 0;
    std::string error_;
};

} // namespace lumidex::test
