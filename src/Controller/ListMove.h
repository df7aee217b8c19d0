// The image browsers' move of items within a list, shared by the panel
// lists and the page list so both orders stay alike.
#pragma once

#include <iterator>
#include <set>
#include <vector>

namespace qlr {

// Moves the items at indexes (in their order) so that they stand where the
// gap before destination was: taken out from the highest index down, the
// destination lowered for each taken index below it, inserted there in
// their previous relative order. Nothing changes and the answer is false
// for an empty set, an index outside the list or a destination past its end.
template <class T>
bool moveItemsInList(std::vector<T>& list, const std::set<int>& indexes, int destination) {
    const int count = int(list.size());
    if (indexes.empty() || *indexes.begin() < 0 || *indexes.rbegin() >= count || destination < 0 ||
        destination > count)
        return false;
    std::vector<T> moved;
    for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) {
        moved.insert(moved.begin(), std::move(list[std::size_t(*it)]));
        list.erase(list.begin() + *it);
        if (*it < destination) --destination;
    }
    list.insert(list.begin() + destination, std::make_move_iterator(moved.begin()),
                std::make_move_iterator(moved.end()));
    return true;
}

} // namespace qlr
