// A table from addresses (of model nodes, the tool's own records) to what the tool keeps
// for them, for lookups on every decoded frame and signal: open addressing in a table
// at most half full, so that a lookup costs about one probe, and nothing is evicted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vexo::cli {

template <typename Key, typename Info>
class AddressTable {
public:
    AddressTable() : slots_(1024) {}
    // What key maps to; make(key) gives it for a key not met before.
    template <typename Make>
    Info *find(const Key *key, Make make)
    {
        const Slot &slot = slots_[slotOf(key)];
        return slot.key == key ? slot.info : probe(key, make);
    }

private:
    struct Slot {
        const Key *key = nullptr;
        Info *info = nullptr;
    };
    template <typename Make>
    [[gnu::noinline]] Info *probe(const Key *key, Make make)
    {
        for (size_t i = slotOf(key);; i = (i + 1) & (slots_.size() - 1)) {
            Slot &slot = slots_[i];
            if (slot.key == key)
                return slot.info;
            if (slot.key == nullptr)
                return add(key, make(key));
        }
    }
    size_t slotOf(const Key *key) const
    {
        return static_cast<size_t>((reinterpret_cast<uintptr_t>(key) * 0x9E3779B97F4A7C15u) >> shift_);
    }
    Info *add(const Key *key, Info *info)
    {
        if (2 * (++count_) > slots_.size()) {
            std::vector<Slot> old(slots_.size() * 2);
            old.swap(slots_);
            --shift_;
            for (const Slot &slot : old) {
                if (slot.key != nullptr)
                    place(slot);
            }
        }
        place({key, info});
        return info;
    }
    void place(const Slot &slot)
    {
        size_t i = slotOf(slot.key);
        while (slots_[i].key != nullptr)
            i = (i + 1) & (slots_.size() - 1);
        slots_[i] = slot;
    }
    std::vector<Slot> slots_;
    unsigned shift_ = 64 - 10;  // 2^(64 - shift_) slots
    size_t count_ = 0;
};

}  // namespace vexo::cli
