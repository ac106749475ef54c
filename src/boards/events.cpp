#include "boards/events.h"

#include <algorithm>

namespace lumidex {

int Observers::Add(Observer observer) {
    std::lock_guard lock(mutex_);
    const int id = next_++;
    observers_.emplace_back(id, std::move(observer));
    return id;
}

void Observers::Remove(int id) {
    std::lock_guard lock(mutex_);
    std::erase_if(observers_, [id](const auto& entry) { return entry.first == id; });
}

void Observers::Emit(const BoardEvent& event) {
    std::vector<Observer> copy;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, observer] : observers_) {
            copy.push_back(observer);
        }
    }
    for (const Observer& observer : copy) {
        observer(event);
    }
}

} // namespace lumidex
