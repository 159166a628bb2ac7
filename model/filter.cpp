// Identifier-list and combination filters. The decoder asks a filter about every signal
// instance it meets, so an identifier-list filter keeps its nodes sorted by address
// (one comparison per chunk, then a binary search) and a combination filter is walked
// without recursion or, for ordinary nesting, any allocation.
#include "vexo/enumerate.h"
#include "filter.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <unordered_set>
#include <vector>

#include "api_guard.h"
#include "database.h"
#include "text.h"

namespace vexo::model {

using core::ListCursor;

Filter *filterAs(const void *handle)
{
    if (handle == nullptr)
        return nullptr;
    const uint32_t magic = core::firstWord(handle);
    if (magic != kIdListFilterMagic && magic != kCombinationFilterMagic)
        return nullptr;
    return static_cast<Filter *>(const_cast<void *>(handle));
}

namespace {

int orderByAddress(const void *key, const void *entry)
{
    const std::less<const void *> before;
    return before(key, entry) ? -1 : before(entry, key) ? 1 : 0;
}

HRESULT applyMode(const Filter &filter, HRESULT answer)
{
    if ((filter.mode & 0xFF) != VEXO_FILTER_INVERT)
        return answer;
    return answer == S_OK ? S_FALSE : answer == S_FALSE ? S_OK : answer;
}

HRESULT listed(const Filter &filter, const void *node)
{
    core::ListPosition position = {nullptr, 0};
    return core::findOrdered(&filter.list, &position, [node](const void *entry) { return orderByAddress(node, entry); });
}

// One combination being asked about a node: where its member walk stands and the answer
// of the last member asked (S_FALSE before any).
struct Level {
    const Filter *filter;
    ListCursor cursor;
    HRESULT answer;
};

// A stack of levels that lives on the machine stack for ordinary nesting depths.
class LevelStack {
public:
    bool empty() const { return size_ == 0; }
    Level &back() { return size_ <= kInline ? inline_[size_ - 1] : deep_.back(); }
    void push(const Filter *filter)
    {
        Level level = {filter, {}, S_FALSE};
        core::cursorInit(&level.cursor, &kFilterLayout, &filter->list);
        if (size_ < kInline)
            inline_[size_] = level;
        else
            deep_.push_back(level);  // may throw std::bad_alloc
        ++size_;
    }
    void pop()
    {
        if (size_ > kInline)
            deep_.pop_back();
        --size_;
    }

private:
    static constexpr size_t kInline = 16;
    Level inline_[kInline];
    std::vector<Level> deep_;
    size_t size_ = 0;
};

HRESULT combinationSelects(const Filter &root, const void *node)
{
    LevelStack stack;
    stack.push(&root);
    for (;;) {
        Level &level = stack.back();
        void *entry = nullptr;
        HRESULT raw;  // un-inverted answer of the level, once it is finished
        if (core::cursorNext(&level.cursor, 1, &entry, nullptr) != S_OK) {
            raw = level.answer;
        } else {
            const Filter *member = filterAs(entry);
            if (member != nullptr && member->magic == kCombinationFilterMagic) {
                stack.push(member);
                continue;
            }
            level.answer = member != nullptr ? applyMode(*member, listed(*member, node)) : E_INVALIDARG;
            if (level.answer != S_OK)
                continue;
            raw = S_OK;  // the first member that selects decides
        }
        // Finish levels upward for as long as a finished one selects the node.
        for (;;) {
            const HRESULT answer = applyMode(*stack.back().filter, raw);
            stack.pop();
            if (stack.empty())
                return answer;
            stack.back().answer = answer;
            if (answer != S_OK)
                break;
            raw = S_OK;
        }
    }
}

// True when target can be reached from start through combination members (start
// itself included). The member graph is acyclic, so the walk ends; the visited set keeps
// shared members from being walked twice.
bool reaches(const Filter *start, const Filter *target)
{
    std::vector<const Filter *> pending = {start};
    std::unordered_set<const Filter *> visited;
    while (!pending.empty()) {
        const Filter *filter = pending.back();
        pending.pop_back();
        if (filter == target)
            return true;
        if (filter->magic != kCombinationFilterMagic || !visited.insert(filter).second)
            continue;
        ListCursor cursor;
        core::cursorInit(&cursor, &kFilterLayout, &filter->list);
        void *entry = nullptr;
        while (core::cursorNext(&cursor, 1, &entry, nullptr) == S_OK) {
            if (const Filter *member = filterAs(entry))
                pending.push_back(member);
        }
    }
    return false;
}

HRESULT newFilter(uint32_t magic, uint32_t mode, Filter **out)
{
    auto *filter = static_cast<Filter *>(std::calloc(1, sizeof(Filter)));
    if (filter == nullptr)
        return E_OUTOFMEMORY;
    const HRESULT hr = core::createAllocator(core::kTrackingAllocator, 0, &filter->allocator);
    if (hr != S_OK) {
        std::free(filter);
        return hr;
    }
    filter->magic = magic;
    filter->mode = mode;
    *out = filter;
    return S_OK;
}

void releaseFilter(Filter *filter)
{
    core::destroyAllocator(filter->allocator);
    filter->magic = 0;
    std::free(filter);
}

// Adds the element with an identifier, once; an unknown identifier adds nothing.
HRESULT addIdentified(Filter &filter, VexoNode *database, const VexoChar *id)
{
    VexoNode *node = nullptr;
    if (Vexo_findByElementId(database, id, &node) != S_OK)
        return S_OK;
    core::ListPosition position = {nullptr, 0};
    if (core::findOrdered(&filter.list, &position, [node](const void *entry) { return orderByAddress(node, entry); })
        == S_OK)
        return S_OK;
    return core::insertOrdered(kFilterLayout, filter.allocator, &filter.list, position, node);
}

// Builds an identifier-list filter; addAll(filter) resolves the identifiers. The filter
// reaches the caller only complete: an identifier dropped for want of memory would
// silently change what the filter selects.
template <class AddAll>
HRESULT createIdListFilter(VexoNode *database, uint32_t mode, bool hasIds, VexoFilter **out, AddAll addAll)
{
    if (out == nullptr)
        return E_INVALIDARG;
    Filter *filter = nullptr;
    HRESULT hr = newFilter(kIdListFilterMagic, mode, &filter);
    if (hr != S_OK)
        return hr;
    if (hasIds && core::databaseAs(database) != nullptr && (hr = addAll(*filter)) != S_OK) {
        releaseFilter(filter);
        return hr;
    }
    *out = reinterpret_cast<VexoFilter *>(filter);
    return S_OK;
}

}  // namespace

HRESULT filterSelects(const Filter &filter, const void *node)
{
    if (filter.magic == kIdListFilterMagic)
        return applyMode(filter, listed(filter, node));
    return core::guarded([&] { return combinationSelects(filter, node); });
}

}  // namespace vexo::model

using namespace vexo::model;

VEXO_API HRESULT Vexo_createIdListFilterW(VexoNode *database, uint32_t mode, const VexoChar *ids, VexoFilter **out)
{
    return createIdListFilter(database, mode, ids != nullptr, out, [&](Filter &filter) {
        for (const VexoChar *id = ids; *id != 0; id += vexo::core::unitLength(id) + 1) {
            const HRESULT hr = addIdentified(filter, database, id);
            if (hr != S_OK)
                return hr;
        }
        return S_OK;
    });
}

VEXO_API HRESULT Vexo_createIdListFilterA(VexoNode *database, uint32_t mode, const char *ids, VexoFilter **out)
{
    return createIdListFilter(database, mode, ids != nullptr, out, [&](Filter &filter) {
        for (const char *id = ids; *id != 0; id += std::strlen(id) + 1) {
            VexoChar *wide = vexo::core::widenText(id);
            if (wide == nullptr)
                return E_OUTOFMEMORY;
            const HRESULT hr = addIdentified(filter, database, wide);
            std::free(wide);
            if (hr != S_OK)
                return hr;
        }
        return S_OK;
    });
}

VEXO_API HRESULT Vexo_createCombinationFilter(uint32_t mode, VexoFilter **out)
{
    if (out == nullptr)
        return E_INVALIDARG;
    Filter *filter = nullptr;
    const HRESULT hr = newFilter(kCombinationFilterMagic, mode, &filter);
    if (hr != S_OK)
        return hr;
    *out = reinterpret_cast<VexoFilter *>(filter);
    return S_OK;
}

VEXO_API HRESULT Vexo_appendFilter(VexoFilter *combination, uint32_t count, VexoFilter *const *filters)
{
    Filter *target = filterAs(combination);
    if (target == nullptr || target->magic != kCombinationFilterMagic || count == 0 || filters == nullptr)
        return E_INVALIDARG;
    return vexo::core::guarded([&]() -> HRESULT {
        // Appending a member to target creates a path from target to it; a path back
        // exists only when the member already reaches target, whatever else this call
        // appends. So every entry can be checked up front and the call refused whole.
        for (uint32_t i = 0; i < count; ++i) {
            const Filter *member = filterAs(filters[i]);
            if (member != nullptr && reaches(member, target))
                return E_INVALIDARG;
        }
        for (uint32_t i = 0; i < count; ++i) {
            Filter *member = filterAs(filters[i]);
            if (member == nullptr)
                continue;
            if (vexo::core::append(kFilterLayout, target->allocator, &target->list, member) != S_OK)
                return E_OUTOFMEMORY;
        }
        return S_OK;
    });
}

VEXO_API HRESULT Vexo_filterNode(const VexoFilter *handle, const VexoNode *node)
{
    const Filter *filter = filterAs(handle);
    if (filter == nullptr || node == nullptr)
        return E_INVALIDARG;
    return filterSelects(*filter, node);
}

VEXO_API HRESULT Vexo_destroyFilter(VexoFilter *handle)
{
    Filter *filter = filterAs(handle);
    if (filter == nullptr)
        return E_INVALIDARG;
    releaseFilter(filter);
    return S_OK;
}
