#include "tests/support/serial_controller.h"

#include <cstdlib>

namespace lumidex::test {

SerialController::SerialController(SerialEnd& line, int exchanges, Answer answer)
    : thread_([&line, exchanges, answer = std::move(answer), this] {
          for (int i = 0; i < exchanges; ++i) {
              SerialEnd::Bytes frame = line.ReadFrame(std::chrono::seconds(5));
              if (frame.empty()) {
                  return;
              }
              frames_.push_back(std::move(frame));
              if (auto bytes = answer(i)) {
                  line.Write(*bytes);
              }
          }
      }) {}

SerialController::~SerialController() {
    Frames();
}

const std::vector<SerialEnd::Bytes>& SerialController::Frames() {
    if (thread_.joinable()) {
        thread_.join();
    }
    return frames_;
}

std::optional<ComPair> ComPairFromEnvironment() {
    const char* pair = std::getenv("LUMIDEX_TEST_COM_PAIR");
    if (pair == nullptr) {
        return std::nullopt;
    }
    const std::string text = pair;
    const auto comma = text.find(',');
    if (comma == std::string::npos) {
        return std::nullopt;
    }
    return ComPair{text.substr(0, comma), text.substr(comma + 1)};
}

} // namespace lumidex::test
