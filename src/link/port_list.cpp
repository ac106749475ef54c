#include "link/port_list.h"

#include "settings/text_codec.h"

#include <string_view>

namespace lumidex {

std::string PortNameFromRegistryData(std::span<const std::uint8_t> data) {
    std::size_t end = 0;
    while (end + 1 < data.size() && (data[end] != 0 || data[end + 1] != 0)) {
        end += 2;
    }
    return Utf16LeToUtf8(std::string_view(reinterpret_cast<const char*>(data.data()), end));
}

} // namespace lumidex
