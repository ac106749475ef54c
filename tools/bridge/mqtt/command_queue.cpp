#include "tools/bridge/mqtt/command_queue.h"

namespace lumidex {

QueuePut CommandQueue::Put(std::string key, std::string payload) {
    if (const auto found = by_key_.find(key); found != by_key_.end()) {
        found->second->payload = std::move(payload);
        order_.splice(order_.end(), order_, found->second);
        return QueuePut::Replaced;
    }
    if (order_.size() >= bound_) {
        return QueuePut::Refused;
    }
    order_.push_back({key, std::move(payload)});
    by_key_.emplace(std::move(key), std::prev(order_.end()));
    return QueuePut::Added;
}

QueuePut CommandQueue::Append(std::string key, std::string payload) {
    if (order_.size() >= bound_) {
        return QueuePut::Refused;
    }
    order_.push_back({std::move(key), std::move(payload)});
    return QueuePut::Added;
}

std::vector<QueuedCommand> CommandQueue::TakeAll() {
    std::vector<QueuedCommand> all;
    all.reserve(order_.size());
    for (QueuedCommand& command : order_) {
        all.push_back(std::move(command));
    }
    order_.clear();
    by_key_.clear();
    return all;
}

} // namespace lumidex
