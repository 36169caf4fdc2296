#pragma once

#include <QHash>

#include <algorithm>
#include <vector>

namespace status {

// Keeps the `keep` entries of `table` heard from most recently (by their
// `heard` member, a count that only grows): the tables that follow scales
// forget in one go at twice their size, so a flood of made-up scales costs
// little per record.
template <typename Key, typename Value> void keepRecent(QHash<Key, Value> &table, qsizetype keep)
{
    std::vector<quint64> heard;
    heard.reserve(size_t(table.size()));
    for (const Value &v : std::as_const(table))
        heard.push_back(v.heard);
    const auto cut = heard.end() - keep;
    std::nth_element(heard.begin(), cut, heard.end());
    table.removeIf([threshold = *cut](const auto &it) { return it.value().heard < threshold; });
}

} // namespace status
