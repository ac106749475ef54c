#include "link/port_list_win32.h"

#include "link/port_list.h"

#include <cstdint>
#include <span>

namespace lumidex {
namespace {

// Room for a value name of 255 characters and for 255 characters of data
// with their terminator.
constexpr DWORD kNameChars = 256;
constexpr DWORD kDataBytes = 512;

} // namespace

std::optional<std::vector<std::string>> ListPortsInRegistryKey(HKEY root, const wchar_t* subkey) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kNameChars];
        DWORD name_chars = kNameChars;
        std::uint8_t data[kDataBytes];
        DWORD data_bytes = kDataBytes;
        DWORD type = 0;
        const LSTATUS status =
            ::RegEnumValueW(key, index, name, &name_chars, nullptr, &type, data, &data_bytes);
        if (status == ERROR_MORE_DATA) {
            continue; // too long for a port name
        }
        if (status != ERROR_SUCCESS) {
            break; // ERROR_NO_MORE_ITEMS, or a key that went away meanwhile
        }
        if (type == REG_SZ) {
            names.push_back(PortNameFromRegistryData(std::span(data, data_bytes)));
        }
    }
    ::RegCloseKey(key);
    return names;
}

std::optional<std::vector<std::string>> ListSerialPorts() {
    return ListPortsInRegistryKey(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM");
}

} // namespace lumidex
