// Building the adapter's result lists (GraphList, VertexList, ArcList).
#ifndef TQ_ADAPTER_LISTS_H
#define TQ_ADAPTER_LISTS_H

#include "log/log.h"
#include "ovw/ovw.h"

#include <cstdlib>
#include <type_traits>
#include <vector>

// A list with one entry per selection-name text, each entry filled by
// fill(entry, text) and owning its text. An empty list when there are no
// texts; null when memory runs out (the texts are released then).
template <typename List, typename Fill>
List *makeResultList(const char *operation, const std::vector<char *> &texts, Fill fill)
{
    using Entry = std::remove_pointer_t<decltype(List::entries)>;
    auto *list = static_cast<List *>(std::calloc(1, sizeof(List)));
    if (list != nullptr && !texts.empty()) {
        list->entries = static_cast<Entry *>(std::calloc(texts.size(), sizeof(Entry)));
        if (list->entries == nullptr) {
            std::free(list);
            list = nullptr;
        }
    }
    if (list == nullptr) {
        AdapterTrace("%s(%d): %s", operation, __LINE__, "could not allocate memory");
        for (char *text : texts)
            OVFree(text);
        return nullptr;
    }
    for (char *text : texts)
        fill(list->entries[list->count++], text);
    return list;
}

// Releases a list made by makeResultList: each entry's owned text (the
// member `text`, when not null) through OVFree, then the array and the list.
template <typename List, typename Entry>
void freeResultList(List *list, char *Entry::*text)
{
    if (list == nullptr)
        return;
    for (int32_t i = 0; list->entries != nullptr && i < list->count; ++i)
        if (list->entries[i].*text != nullptr)
            OVFree(list->entries[i].*text);
    std::free(list->entries);
    std::free(list);
}

#endif
