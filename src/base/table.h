// Creation of the process-wide tables: zero-filled records, created once.
// The standard containers report a failed allocation by throwing; this is the
// one place that turns it into a result, so no caller ever sees an exception.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

template <typename T> bool TableCreate(std::vector<T> &table, size_t count) {
    try {
        table.assign(count, T{});
        return true;
    } catch (const std::bad_alloc &) {
        std::vector<T>().swap(table);
        return false;
    }
}
