#include "link/port_list.h"
#include "link/port_list_win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace lumidex {
namespace {

// A registry key of the test's own under HKEY_CURRENT_USER, laid out as the
// machine's serial-port key is, and deleted afterwards.
class TestPortKey {
public:
    TestPortKey() {
        subkey_ = L"Software\\LumidexTests\\SerialComm" + std::to_wstring(::GetCurrentProcessId());
        ::RegCreateKeyExW(HKEY_CURRENT_USER, subkey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                          nullptr, &key_, nullptr);
    }
    TestPortKey(const TestPortKey&) = delete;
    TestPortKey& operator=(const TestPortKey&) = delete;
    ~TestPortKey() {
        ::RegCloseKey(key_);
        ::RegDeleteKeyW(HKEY_CURRENT_USER, subkey_.c_str());
    }
    const wchar_t* subkey() const { return subkey_.c_str(); }
    bool ok() const { return key_ != nullptr; }

    void AddString(const wchar_t* name, const std::wstring& data) {
        ::RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                         static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }
    void AddNumber(const wchar_t* name, DWORD value) {
        ::RegSetValueExW(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                         sizeof value);
    }

private:
    std::wstring subkey_;
    HKEY key_ = nullptr;
};

TEST(RegistryPortList, EveryStringValueIsAPortInRegistryOrder) {
    TestPortKey key;
    ASSERT_TRUE(key.ok());
    key.AddString(L"\\Device\\Serial0", L"COM1");
    key.AddString(L"\\Device\\Serial2", L"COM3");
    key.AddString(L"\\Device\\VCP0", L"COM10");
    key.AddNumber(L"\\Device\\Odd", 7);                        // not a string: no port
    key.AddString(L"\\Device\\Long", std::wstring(300, L'X')); // more than 512 bytes
    key.AddString(L"\\Device\\Serial1", L"COM1");              // listed as often as registered
    const auto ports = ListPortsInRegistryKey(HKEY_CURRENT_USER, key.subkey());
    ASSERT_TRUE(ports.has_value());
    std::vector<std::string> sorted = *ports;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{"COM1", "COM1", "COM10", "COM3"}));
}

TEST(RegistryPortList, EmptyKeyIsAnEmptyListAndAMissingKeyIsNoList) {
    TestPortKey key;
    ASSERT_TRUE(key.ok());
    const auto empty = ListPortsInRegistryKey(HKEY_CURRENT_USER, key.subkey());
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
    EXPECT_FALSE(ListPortsInRegistryKey(HKEY_CURRENT_USER, L"Software\\LumidexTests\\NoSuchKey")
                     .has_value());
}

// The machine's own list comes from HARDWARE\DEVICEMAP\SERIALCOMM, which
// holds COM names.
TEST(RegistryPortList, MachineListHoldsComNames) {
    const auto ports = ListSerialPorts();
    if (!ports) {
        GTEST_SKIP() << "this machine registers no serial ports at all";
    }
    for (const std::string& port : *ports) {
        EXPECT_TRUE(port.starts_with("COM")) << port;
    }
}

} // namespace
} // namespace lumidex
