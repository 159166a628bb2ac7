// A database owned by one test, and readers of core's node lists, shared by the tests
// that look at the node layout (core, model).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "database.h"
#include "vexo/core.h"

inline VexoNode *nodeHandle(const void *node) { return static_cast<VexoNode *>(const_cast<void *>(node)); }

template <class T>
T *as(VexoNode *node) { return vexo::core::nodeAs<T>(node); }

struct TestDb {
    VexoNode *handle = nullptr;
    explicit TestDb(const VexoChar *id = u"DB") { EXPECT_EQ(Vexo_create(id, &handle), S_OK); }
    ~TestDb() { Vexo_destroy(handle); }
    TestDb(const TestDb &) = delete;
    TestDb &operator=(const TestDb &) = delete;

    vexo::core::Vexo *database() const { return vexo::core::databaseAs(handle); }
    vexo::core::DatabaseCollections *collections() const
    {
        vexo::core::DatabaseCollections *out = nullptr;
        EXPECT_EQ(vexo::core::collectionsOf(handle, &out), S_OK);
        return out;
    }
    // A node made through the core internals, with the identifier if one is given.
    template <class T>
    T *make(const VexoChar *id = nullptr)
    {
        T *node = vexo::core::allocateNode<T>(database());
        EXPECT_NE(node, nullptr);
        if (id != nullptr) {
            EXPECT_EQ(vexo::core::setElementId(database(), node, id), S_OK);
        }
        return node;
    }
    template <class T>
    T *make(const std::u16string &id) { return make<T>(id.c_str()); }
};

// The entries of a node list, in list order.
inline std::vector<void *> entries(const vexo::core::NodeList &list)
{
    std::vector<void *> out;
    vexo::core::ListCursor cursor;
    vexo::core::cursorInit(&cursor, &vexo::core::kSmallNodeLayout, &list);
    void *entry = nullptr;
    while (vexo::core::cursorNext(&cursor, 1, &entry, nullptr) == S_OK)
        out.push_back(entry);
    return out;
}

// The identifiers of a list's entries; "<none>" for an entry without one.
inline std::vector<std::u16string> idsOf(const vexo::core::NodeList &list)
{
    std::vector<std::u16string> out;
    for (void *entry : entries(list)) {
        const auto *element = vexo::core::nodeAs<vexo::core::ElementId>(entry);
        out.push_back(element != nullptr && element->eid != nullptr ? element->eid : u"<none>");
    }
    return out;
}

inline std::u16string numbered(const char16_t *prefix, int i)
{
    const std::string digits = std::to_string(i);
    return prefix + std::u16string(digits.begin(), digits.end());
}
