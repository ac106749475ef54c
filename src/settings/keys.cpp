#include "settings/keys.h"

#include "settings/file_io.h"
#include "settings/profile.h"
#include "settings/text_codec.h"

#include <limits>
#include <vector>

namespace lumidex {

std::span<const SettingKey> AllSettingKeys() {
    static const std::vector<SettingKey> all = [] {
        std::vector<SettingKey> keys_list{keys::kMode};
        auto add = [&](const auto& group) {
            keys_list.insert(keys_list.end(), group.begin(), group.end());
        };
        add(keys::kDigitCount);
        add(keys::kDecimalPlaces);
        keys_list.push_back(keys::kUnifiedDigitCount);
        keys_list.push_back(keys::kUnifiedDecimalPlaces);
        keys_list.push_back(keys::kUnifiedFlicker);
        add(keys::kFlicker);
        keys_list.push_back(keys::kUnifiedPoint);
        add(keys::kPoint);
        keys_list.push_back(keys::kUpdateTime);
        keys_list.push_back(keys::kBusAddress);
        keys_list.push_back(keys::kControllerIp);
        add(keys::kLineChosen);
        add(keys::kLineText);
        add(keys::kCaption);
        keys_list.push_back(keys::kSerialPort);
        keys_list.push_back(keys::kBaudRate);
        keys_list.push_back(keys::kDayBrightness);
        keys_list.push_back(keys::kNightBrightness);
        return keys_list;
    }();
    return all;
}

std::string SettingsFile::Read(const SettingKey& key) const {
    return Read(key, key.fallback);
}

std::string SettingsFile::Read(const SettingKey& key, std::string_view fallback) const {
    if (snapshots_ == 0) {
        return ReadSetting(path_, key.section, key.name, fallback, key.chars + 1);
    }
    if (!held_) {
        const auto bytes = ReadWholeFile(path_);
        held_ = bytes ? DecodeSettingsText(*bytes).text : std::string();
    }
    return ReadSettingFromText(*held_, key.section, key.name, fallback, key.chars + 1);
}

std::int32_t SettingsFile::ReadNumber(const SettingKey& key) const {
    return LeadingNumber(Read(key));
}

bool SettingsFile::Write(const SettingKey& key, std::string_view value) const {
    return Store(key, value) == WriteOutcome::Written;
}

WriteOutcome SettingsFile::Store(const SettingKey& key, std::string_view value) const {
    held_.reset();
    // Once the lock stayed held for a whole wait, later writes try it once
    // until one gets through: a lock held for long costs one wait, not one
    // per key.
    const WriteOutcome outcome =
        StoreSetting(path_, key.section, key.name, value,
                     lock_held_ ? std::chrono::milliseconds(0) : kSettingsLockWait);
    lock_held_ = outcome == WriteOutcome::Locked;
    return outcome;
}

std::int32_t LeadingNumber(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r'))) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
        value = value * 10 + (text[pos] - '0');
        if (value > kLimit) {
            value = kLimit;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(value);
}

int FirstDigitValue(std::string_view text) {
    if (!text.empty() && text.front() >= '0' && text.front() <= '9') {
        return text.front() - '0';
    }
    return 0;
}

} // namespace lumidex
