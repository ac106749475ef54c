#pragma once

#include "protocol/frame.h"
#include "tools/sim/display.h"
#include "tools/sim/json_report.h"
#include "tools/sim/simulator.h"

#include <chrono>
#include <ostream>
#include <span>
#include <string>

namespace lumidex {

// Of rejected input only this many leading bytes are shown.
constexpr std::size_t kRejectedHexBytes = 64;

// The leading bytes of rejected input in hex, and its length when there is
// more, so a flood of large datagrams cannot fill the log.
inline std::string RejectedHex(std::span<const std::uint8_t> bytes) {
    if (bytes.size() <= kRejectedHexBytes) {
        return FormatHex(bytes);
    }
    return FormatHex(bytes.first(kRejectedHexBytes)) + " ... (" + std::to_string(bytes.size()) +
           " bytes)";
}

// Rejected input reported at most this often.
constexpr int kRejectedReportsPerWindow = 20;
constexpr std::chrono::seconds kRejectedReportWindow{1};
// Frames the card took reported at most this often: a controller meets a
// few a second (an operator, a bridge, a script in a loop), and a flood of
// valid frames must not fill the log any more than one of garbage.
constexpr int kFrameReportsPerWindow = 50;
constexpr std::chrono::seconds kFrameReportWindow{1};

// Prints what the virtual control card received and what the display now
// shows: a picture of the display, or one JSON object per frame. Reports of
// frames and of rejected input are rate-limited, each on its own; the next
// report after some were held back says how many.
class Reporter {
public:
    Reporter(const SimOptions& options, std::ostream& out) : options_(options), out_(out) {}

    void Frame(const std::string& link, const std::string& peer,
               std::span<const std::uint8_t> bytes, const ControlCard::Outcome& outcome,
               const DisplayState& display) {
        const DecodeResult& d = outcome.decoded;
        if (d.frame ? !MayReport(frames_limiter_, true) : !MayReport(limiter_, false)) {
            return;
        }
        const std::string answered = !outcome.reply                  ? "none"
                                     : ReplyAccepted(*outcome.reply) ? "accepted"
                                                                     : "rejected";
        if (options_.json) {
            out_ << FrameReportJson(link, peer, bytes, d, answered) << "\n" << std::flush;
            return;
        }
        std::string head = link + " " + peer + ": ";
        if (d.frame) {
            head +=
                CommandName(d.frame->command) + " for address " + std::to_string(d.frame->address);
        } else {
            head += "invalid frame (" + d.reason + ")";
        }
        head += outcome.dropped ? ", dropped" : ", answer " + answered;
        out_ << head << "\n  " << (d.frame ? FormatHex(bytes) : RejectedHex(bytes)) << "\n";
        if (d.frame) {
            out_ << RenderDisplay(display);
        }
        out_ << std::flush;
    }

    void Garbage(const std::string& link, const std::string& peer,
                 std::span<const std::uint8_t> bytes, bool truncated) {
        Ignored(link, peer, bytes, truncated ? "truncated frame" : "garbage");
    }

    // Input the card takes no notice of (garbage, a cut frame, a datagram
    // from its own address), reported within the rate limit.
    void Ignored(const std::string& link, const std::string& peer,
                 std::span<const std::uint8_t> bytes, const std::string& what) {
        if (!MayReport(limiter_, false)) {
            return;
        }
        if (options_.json) {
            out_ << IgnoredReportJson(link, peer, bytes, what) << "\n" << std::flush;
            return;
        }
        out_ << link << " " << peer << ": " << what << " ignored (" << bytes.size() << " bytes)\n  "
             << RejectedHex(bytes) << "\n"
             << std::flush;
    }

private:
    // True when a report of a valid frame (or of rejected input) may be
    // printed now; first says how many of its kind were held back.
    bool MayReport(ReportLimiter& limiter, bool valid) {
        long held_back = 0;
        if (!limiter.Allow(ReportLimiter::Clock::now(), held_back)) {
            return false;
        }
        if (held_back > 0) {
            if (options_.json) {
                out_ << HeldBackReportJson(held_back, valid) << "\n";
            } else {
                out_ << "(" << held_back
                     << (valid ? " reports of frames held back)\n"
                               : " reports of rejected input held back)\n");
            }
        }
        return true;
    }

    const SimOptions& options_;
    std::ostream& out_;
    ReportLimiter limiter_{kRejectedReportsPerWindow, kRejectedReportWindow};
    ReportLimiter frames_limiter_{kFrameReportsPerWindow, kFrameReportWindow};
};

} // namespace lumidex
