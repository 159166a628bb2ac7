// Identifier-list and combination filters. The decoder asks a filter about every signal
// instance it meets, so an identifier-list filter keeps its nodes sorted by address (a
// bisection) and a combination filter is walked without recursion, each combination
// answered once per question however many paths share it, and for ordinary sizes
// without any allocation. Appends keep the combinations ranked in a topological order,
// so the cycle check is a comparison in the common case and otherwise a search bounded
// by the ranks it has to move.
#include "vexo/enumerate.h"
#include "filter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "api_guard.h"
#include "database.h"
#include "enumerator.h"
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

// The answers of the combinations already asked during one question (a combination's
// answer depends on the node only): kept inline for a few, in a hash map beyond. A
// combination being asked is listed as pending.
constexpr HRESULT kPending = HRESULT(0x8000000A);  // never a filter's answer

class Answers {
public:
    HRESULT *find(const Filter *filter)
    {
        for (size_t i = 0; i < std::min(size_, kInline); ++i) {
            if (inline_[i].first == filter)
                return &inline_[i].second;
        }
        if (size_ <= kInline)
            return nullptr;
        const auto at = more_.find(filter);
        return at != more_.end() ? &at->second : nullptr;
    }
    void add(const Filter *filter, HRESULT answer)
    {
        if (size_ < kInline)
            inline_[size_] = {filter, answer};
        else
            more_.emplace(filter, answer);  // may throw std::bad_alloc
        ++size_;
    }

private:
    static constexpr size_t kInline = 16;
    std::pair<const Filter *, HRESULT> inline_[kInline];
    std::unordered_map<const Filter *, HRESULT> more_;
    size_t size_ = 0;
};

HRESULT combinationSelects(const Filter &root, const void *node)
{
    LevelStack stack;
    Answers answers;
    answers.add(&root, kPending);
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
                if (const HRESULT *known = answers.find(member)) {
                    // Pending only when a member was destroyed and its memory reused by a
                    // filter that holds this one: such a loop selects nothing.
                    level.answer = *known == kPending ? S_FALSE : *known;
                } else {
                    answers.add(member, kPending);
                    stack.push(member);
                    continue;
                }
            } else {
                level.answer = member != nullptr ? applyMode(*member, listed(*member, node)) : E_INVALIDARG;
            }
            if (level.answer != S_OK)
                continue;
            raw = S_OK;  // the first member that selects decides
        }
        // Finish levels upward for as long as a finished one selects the node.
        for (;;) {
            const Filter *finished = stack.back().filter;
            const HRESULT answer = applyMode(*finished, raw);
            stack.pop();
            if (stack.empty())
                return answer;
            *answers.find(finished) = answer;
            stack.back().answer = answer;
            if (answer != S_OK)
                break;
            raw = S_OK;
        }
    }
}

// ---- Ranks ----------------------------------------------------------------------
// Invariant: a combination ranks above every combination among its members, so a path
// through members only ever goes down in rank. Appending member m to target t cannot
// close a cycle when m ranks below t (the common case: a new combination takes older
// ones). Otherwise only filters ranked between t and m can lie on a path from m back to
// t: two searches go out at once, down from m and up from t (through the holders), each
// staying between the two ranks, and the first to finish answers. After the append the
// side that finished moves past the other end, keeping its own order: m's side just
// below t, or t's side just above m, one gap apart. So a chain built from the top down,
// from the bottom up or linked from its far end back costs a constant per link. When
// there is no room between the ranks every filter is ranked afresh.

constexpr uint64_t kRankGap = uint64_t(1) << 24;   // between ranks given out
constexpr uint64_t kRankBase = uint64_t(1) << 62;  // the lowest rank given out: room below
constexpr uint64_t kRankLimit = kRankBase * 3;     // stay well below 2^64 above
constexpr uint64_t kRankCeiling = kRankLimit + (kRankBase >> 1);

struct Holder {
    Filter *filter;
    uint64_t serial;  // 0 once the entry is void
};
inline constexpr core::ChunkLayout kHolderLayout = core::recordListLayout(16, 3, sizeof(Holder));

std::mutex rankLock;                             // guards ranks, holders and the set below
// The filters alive, to test a pointer before reading through it. Never destroyed, so a
// filter released late in the process's exit still finds it.
std::unordered_set<const Filter *> &liveFilters = *new std::unordered_set<const Filter *>();
uint64_t lastRank = kRankBase;
uint64_t lastSerial = 0;

// Set when an append ran out of memory before the ranks were in order again; the next
// append ranks everything afresh, and until that works searches are not pruned by rank.
bool ranksStale = false;

bool isLive(const Filter *filter) { return liveFilters.count(filter) != 0; }

// Visits the live members of a combination that are combinations themselves.
template <class Visit>
void forEachCombinationMember(const Filter &filter, Visit visit)
{
    ListCursor cursor;
    core::cursorInit(&cursor, &kFilterLayout, &filter.list);
    void *entry = nullptr;
    while (core::cursorNext(&cursor, 1, &entry, nullptr) == S_OK) {
        if (!isLive(static_cast<const Filter *>(entry)))
            continue;
        Filter *member = filterAs(entry);
        if (member != nullptr && member->magic == kCombinationFilterMagic)
            visit(member);
    }
}

// Visits the live combinations that hold a filter (once per append).
template <class Visit>
void forEachHolder(const Filter &filter, Visit visit)
{
    forEachRecord<Holder>(filter.holders, [&](const Holder *holder) {
        if (holder->serial != 0 && isLive(holder->filter) && holder->filter->serial == holder->serial)
            visit(holder->filter);
        return true;
    });
}

// Ranks every live filter afresh in one topological order (members first), keeping the
// order of filters that do not depend on each other.
void rankAll()
{
    std::unordered_map<const Filter *, uint8_t> state;  // 1: being walked, 2: ranked
    std::vector<std::pair<Filter *, std::vector<Filter *>>> stack;
    std::vector<const Filter *> starts(liveFilters.begin(), liveFilters.end());
    std::sort(starts.begin(), starts.end(), [](const Filter *a, const Filter *b) { return a->rank < b->rank; });
    auto members = [](Filter *filter) {
        std::vector<Filter *> found;
        if (filter->magic == kCombinationFilterMagic)
            forEachCombinationMember(*filter, [&](Filter *member) { found.push_back(member); });
        return found;
    };
    uint64_t next = kRankBase;
    for (const Filter *start : starts) {
        if (state[start] != 0)
            continue;
        auto *root = const_cast<Filter *>(start);
        state[root] = 1;
        stack.emplace_back(root, members(root));
        while (!stack.empty()) {
            auto &[filter, pending] = stack.back();
            if (!pending.empty()) {
                Filter *member = pending.back();
                pending.pop_back();
                if (state[member] == 0) {
                    state[member] = 1;
                    stack.emplace_back(member, members(member));
                }
                continue;
            }
            filter->rank = next += kRankGap;
            state[filter] = 2;
            stack.pop_back();
        }
    }
    lastRank = next;
}

// The two searches between target and member. Down from member through members ranked
// above `low`, up from target through holders ranked below `high`; one step each in
// turn. Returns true when a search meets the other end (a path from member to target);
// else *down is true when the downward search finished first, and region holds what
// that search found.
bool searchBetween(Filter *target, Filter *member, uint64_t low, uint64_t high, bool *down,
                   std::vector<Filter *> *region)
{
    std::unordered_set<const Filter *> seenDown = {member}, seenUp = {target};
    std::vector<Filter *> pendingDown = {member}, pendingUp = {target};
    std::vector<Filter *> foundDown = {member}, foundUp = {target};
    bool met = false;
    for (;;) {
        if (pendingDown.empty() || pendingUp.empty()) {
            *down = pendingDown.empty();
            *region = *down ? std::move(foundDown) : std::move(foundUp);
            return false;
        }
        Filter *at = pendingDown.back();
        pendingDown.pop_back();
        forEachCombinationMember(*at, [&](Filter *next) {
            met = met || next == target;
            if (next->rank > low && seenDown.insert(next).second) {
                pendingDown.push_back(next);
                foundDown.push_back(next);
            }
        });
        at = pendingUp.back();
        pendingUp.pop_back();
        forEachHolder(*at, [&](Filter *next) {
            met = met || next == member;
            if (next->rank < high && seenUp.insert(next).second) {
                pendingUp.push_back(next);
                foundUp.push_back(next);
            }
        });
        if (met)
            return true;
    }
}

bool closesCycle(Filter *target, Filter *member)
{
    if (member == target)
        return true;
    if (!ranksStale && member->rank < target->rank)
        return false;
    bool down = false;
    std::vector<Filter *> region;
    return ranksStale ? searchBetween(target, member, 0, UINT64_MAX, &down, &region)
                      : searchBetween(target, member, target->rank, member->rank, &down, &region);
}

// Restores the order after the edge target -> member was added (the graph has no cycle).
void rankForEdge(Filter *target, Filter *member)
{
    if (member->rank < target->rank)
        return;
    bool down = false;
    std::vector<Filter *> region;
    searchBetween(target, member, target->rank, member->rank, &down, &region);
    std::unordered_set<const Filter *> inside(region.begin(), region.end());
    // The region's own order stays; what it must stay between is what it reaches (going
    // down) or what holds it (going up) outside it.
    std::sort(region.begin(), region.end(), [](const Filter *a, const Filter *b) { return a->rank < b->rank; });
    uint64_t bound = down ? 0 : kRankCeiling;
    for (Filter *filter : region) {
        if (down) {
            forEachCombinationMember(*filter, [&](Filter *next) {
                if (inside.count(next) == 0)
                    bound = std::max(bound, next->rank);
            });
        } else {
            forEachHolder(*filter, [&](Filter *next) {
                if (inside.count(next) == 0)
                    bound = std::min(bound, next->rank);
            });
        }
    }
    const uint64_t end = down ? target->rank : member->rank;  // the region goes past it
    const uint64_t room = down ? (end > bound ? end - bound : 0) : (bound > end ? bound - end : 0);
    const uint64_t step = std::min(room / (region.size() + 1), kRankGap);
    if (step == 0) {
        rankAll();
        return;
    }
    uint64_t rank = down ? end - step * region.size() : end + step;
    for (Filter *filter : region) {
        filter->rank = rank;
        rank += step;
    }
    lastRank = std::max(lastRank, rank);
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
    // A new filter contains nothing yet, so any rank is right; ranking it above the others
    // makes it free to take any of them later.
    const HRESULT listed = core::guarded([&] {
        const std::lock_guard<std::mutex> hold(rankLock);
        liveFilters.insert(filter);
        if (lastRank >= kRankLimit)
            rankAll();
        filter->rank = lastRank += kRankGap;
        filter->serial = ++lastSerial;
        return S_OK;
    });
    if (listed != S_OK) {
        core::destroyAllocator(filter->allocator);
        std::free(filter);
        return listed;
    }
    *out = filter;
    return S_OK;
}

void releaseFilter(Filter *filter)
{
    {
        const std::lock_guard<std::mutex> hold(rankLock);
        liveFilters.erase(filter);
    }
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
    const std::lock_guard<std::mutex> hold(rankLock);
    return vexo::core::guarded([&]() -> HRESULT {
        if (ranksStale) {
            rankAll();
            ranksStale = false;
        }
        // Appending a member to target creates a path from target to it; a path back
        // exists only when the member already reaches target, whatever else this call
        // appends. So every entry can be checked up front and the call refused whole.
        for (uint32_t i = 0; i < count; ++i) {
            Filter *member = filterAs(filters[i]);
            if (member != nullptr && member->magic == kCombinationFilterMagic && closesCycle(target, member))
                return E_INVALIDARG;
        }
        HRESULT hr = S_OK;
        uint32_t appended = 0;
        for (; appended < count; ++appended) {
            Filter *member = filterAs(filters[appended]);
            if (member == nullptr)
                continue;
            // The member learns its holder first; the entry is voided if the append fails.
            auto *holder = static_cast<Holder *>(
                vexo::core::appendRecord(kHolderLayout, member->allocator, &member->holders));
            if (holder != nullptr)
                *holder = {target, target->serial};
            if (holder == nullptr
                || vexo::core::append(kFilterLayout, target->allocator, &target->list, member) != S_OK) {
                if (holder != nullptr)
                    holder->serial = 0;
                hr = E_OUTOFMEMORY;
                break;
            }
        }
        ranksStale = true;  // until every appended edge has its order
        for (uint32_t i = 0; i < appended; ++i) {
            Filter *member = filterAs(filters[i]);
            if (member != nullptr && member->magic == kCombinationFilterMagic)
                rankForEdge(target, member);
        }
        ranksStale = false;
        return hr;
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
