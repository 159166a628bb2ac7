// The exported string-slot functions over a database's string table.
#include <cstdlib>

#include "vexo/core.h"
#include "database.h"
#include "text.h"

using namespace vexo::core;

namespace {

StringTable *tableOf(VexoNode *handle)
{
    Vexo *database = databaseAs(handle);
    return database != nullptr ? database->strings : nullptr;
}

// A slot of this database: texts are added through its table.
StringSlot *ownSlot(VexoNode *handle, VexoStringSlot *slot)
{
    StringSlot *typed = slotAs(slot);
    return typed != nullptr && ownedBy(typed, databaseAs(handle)) ? typed : nullptr;
}

// The interned copy of 8-bit text; null when the text cannot be converted or stored,
// in which case the slot entry is left without a text.
const VexoChar *internNarrow(StringTable *table, const char *text)
{
    VexoChar *wide = widenText(text);
    if (wide == nullptr)
        return nullptr;
    const VexoChar *interned = intern(table, wide);
    std::free(wide);
    return interned;
}

}  // namespace

VEXO_API HRESULT Vexo_stringCreateSlot(VexoNode *database, uint32_t language, const VexoChar *text,
                                       VexoStringSlot **slot)
{
    StringTable *table = tableOf(database);
    if (table == nullptr || text == nullptr || slot == nullptr)
        return E_INVALIDARG;
    const VexoChar *interned = intern(table, text);
    if (interned == nullptr)
        return E_OUTOFMEMORY;
    return createSlot(table, language, interned, reinterpret_cast<StringSlot **>(slot));
}

VEXO_API HRESULT Vexo_stringCreateSlotA(VexoNode *database, uint32_t language, const char *text,
                                        VexoStringSlot **slot)
{
    StringTable *table = tableOf(database);
    if (table == nullptr || text == nullptr || slot == nullptr)
        return E_INVALIDARG;
    return createSlot(table, language, internNarrow(table, text), reinterpret_cast<StringSlot **>(slot));
}

VEXO_API HRESULT Vexo_stringAddAlternative(VexoNode *database, VexoStringSlot *slot, uint32_t language,
                                           const VexoChar *text)
{
    StringTable *table = tableOf(database);
    StringSlot *own = ownSlot(database, slot);
    if (table == nullptr || text == nullptr || own == nullptr)
        return E_INVALIDARG;
    const VexoChar *interned = intern(table, text);
    if (interned == nullptr)
        return E_OUTOFMEMORY;
    return addAlternative(table, own, language, interned);
}

VEXO_API HRESULT Vexo_stringAddAlternativeA(VexoNode *database, VexoStringSlot *slot, uint32_t language,
                                            const char *text)
{
    StringTable *table = tableOf(database);
    StringSlot *own = ownSlot(database, slot);
    if (table == nullptr || text == nullptr || own == nullptr)
        return E_INVALIDARG;
    return addAlternative(table, own, language, internNarrow(table, text));
}

VEXO_API HRESULT Vexo_stringLookup(VexoNode *database, const VexoStringSlot *slot, uint32_t language,
                                   uint32_t fallbackLanguage, const VexoChar **text)
{
    StringTable *table = tableOf(database);
    // A slot of another database holds language indexes of that database's table.
    if (table == nullptr || text == nullptr || foreignTo(slot, databaseAs(database)))
        return E_INVALIDARG;
    return lookupSlot(table, reinterpret_cast<const StringSlot *>(slot), language, fallbackLanguage, text);
}
