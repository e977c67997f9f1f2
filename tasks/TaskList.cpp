#include "tasks/TaskList.h"

#include <stdexcept>

namespace duplora {

void TaskList::append(std::string name, TaskRecord record) {
    tasks_.push_back(Task{std::move(name), record, false});
}

void TaskList::insert(std::size_t index, std::string name, TaskRecord record) {
    if (index > tasks_.size())
        throw std::out_of_range("TaskList::insert");
    tasks_.insert(tasks_.begin() + static_cast<std::ptrdiff_t>(index),
                  Task{std::move(name), record, false});
}

void TaskList::remove(std::size_t index) {
    if (index >= tasks_.size())
        throw std::out_of_range("TaskList::remove");
    tasks_.erase(tasks_.begin() + static_cast<std::ptrdiff_t>(index));
}

void TaskList::move(std::size_t from, std::size_t to) {
    if (from >= tasks_.size() || to >= tasks_.size())
        throw std::out_of_range("TaskList::move");
    Task t = std::move(tasks_[from]);
    tasks_.erase(tasks_.begin() + static_cast<std::ptrdiff_t>(from));
    tasks_.insert(tasks_.begin() + static_cast<std::ptrdiff_t>(to), std::move(t));
}

void TaskList::clear() {
    tasks_.clear();
    schedules_.clear();
}

std::vector<std::size_t> TaskList::findNoCase(std::string_view name) const {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < tasks_.size(); ++i)
        if (EqualsNoCase(tasks_[i].name, name))
            out.push_back(i);
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z')
            x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z')
            y = static_cast<unsigned char>(y - 32);
        if (x != y)
            return false;
    }
    return true;
}

} // namespace duplora
