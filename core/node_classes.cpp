// Class and field tables generated from node_classes.def, node allocation and the
// exported class tests.
#include "vexo/core.h"
#include "node_classes.h"

#include "database.h"

namespace vexo::core {

namespace {

constexpr bool sameText(const char *a, const char *b)
{
    while (*a != 0 && *a == *b)
        ++a, ++b;
    return *a == *b;
}

// DatabaseResident is an implementation layer with no published name.
constexpr const char *publishedName(const char *name)
{
    return sameText(name, "DatabaseResident") ? nullptr : name;
}

constexpr ClassInfo makeInfo(uint32_t code, const char *name, const VexoChar *wide, uint32_t size, ClassKind kind)
{
    return {code, publishedName(name), publishedName(name) ? wide : nullptr, size, kind};
}

struct ClassTableBuilder {
    ClassInfo rows[256];
    constexpr ClassTableBuilder() : rows{}
    {
#define VEXO_CLASS(Name, Parent, index, end, tag, kind) \
    rows[index] = makeInfo(Name::kCode, #Name, u"" #Name, sizeof(Name), ClassKind::kind);
#define VEXO_FIELD(Class, Type, name)
#define VEXO_END(Name)
#include "node_classes.def"
#undef VEXO_CLASS
#undef VEXO_FIELD
#undef VEXO_END
    }
};

constexpr ClassTableBuilder kBuilt;

}  // namespace

const ClassInfo kClassTable[256] = {
#define VEXO_ROW(i) kBuilt.rows[i]
#define VEXO_ROW8(i) VEXO_ROW(i), VEXO_ROW(i + 1), VEXO_ROW(i + 2), VEXO_ROW(i + 3), \
                     VEXO_ROW(i + 4), VEXO_ROW(i + 5), VEXO_ROW(i + 6), VEXO_ROW(i + 7)
    VEXO_ROW8(0), VEXO_ROW8(8), VEXO_ROW8(16), VEXO_ROW8(24), VEXO_ROW8(32), VEXO_ROW8(40),
#undef VEXO_ROW8
#undef VEXO_ROW
};

uint32_t codeOfTag(uint32_t tag)
{
    if (tag == 0)
        return ObjectBase::kCode;
    for (uint32_t i = 1; i <= kClassCount; ++i) {
        if (classTag(kClassTable[i].code) == tag)
            return kClassTable[i].code;
    }
    return 0;
}

const char *className(uint32_t code)
{
    return isGenuineCode(code) ? kClassTable[classIndex(code)].name : nullptr;
}

const VexoChar *classNameWide(uint32_t code)
{
    return isGenuineCode(code) ? kClassTable[classIndex(code)].wideName : nullptr;
}

Vexo *databaseOf(const void *node)
{
    const DatabaseResident *resident = nodeAs<DatabaseResident>(node);
    return resident != nullptr ? resident->database : nullptr;
}

ObjectBase *allocateNode(Vexo *database, uint32_t code)
{
    if (!isGenuineCode(code))
        return nullptr;
    const bool resident = derivesFrom(code, DatabaseResident::kCode);
    // A timing has no database field: its database lists it instead.
    if (!resident && reserveOwnerless(database->allocator) != S_OK)
        return nullptr;
    const ClassInfo &info = kClassTable[classIndex(code)];
    void *memory = allocate(database->allocator, info.size);
    if (memory == nullptr)
        return nullptr;
    ObjectBase *node = nullptr;
    switch (classIndex(code)) {
#define VEXO_CLASS(Name, Parent, index, end, tag, kind) \
    case index:                                         \
        node = new (memory) Name();                     \
        break;
#define VEXO_FIELD(Class, Type, name)
#define VEXO_END(Name)
#include "node_classes.def"
#undef VEXO_CLASS
#undef VEXO_FIELD
#undef VEXO_END
    }
    node->nodetype = code;
    countChange(database->allocator);
    if (resident)
        static_cast<DatabaseResident *>(node)->database = database;
    else
        noteOwnerless(database->allocator, node);
    return node;
}

bool ownedBy(const void *item, const Vexo *database)
{
    if (item == nullptr || database == nullptr)
        return false;
    if (const DatabaseResident *resident = nodeAs<DatabaseResident>(item))
        return resident->database == database;
    return isOwnerlessOf(database->allocator, item);
}

}  // namespace vexo::core

using namespace vexo::core;

VEXO_API int32_t Vexo_isDerivedFrom(const VexoNode *node, uint32_t klass)
{
    if (node == nullptr)
        return 0;
    if (klass < ObjectBase::kCode)
        klass = codeOfTag(klass);
    return derivesFrom(codeOf(node), klass) ? 1 : 0;
}

VEXO_API HRESULT Vexo_isValidNode(const VexoNode *node)
{
    if (node == nullptr)
        return E_INVALIDARG;
    const uint32_t code = codeOf(node);
    return classIndex(code) >= 1 && subtreeEnd(code) <= kClassCount ? S_OK : S_FALSE;
}

VEXO_API int32_t Vexo_getNodeType(const VexoNode *node)
{
    if (node == nullptr || Vexo_isValidNode(node) != S_OK)
        return -1;
    return static_cast<int32_t>(classTag(codeOf(node)));
}
