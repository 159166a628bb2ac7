/* Vexo object model core: node classes, the database with its groups and element
 * identifiers, string slots, and the caller-owned strings the library hands out. */
#ifndef VEXO_CORE_H
#define VEXO_CORE_H

#include "vexo/types.h"

/* A string slot holds one text per 16-bit language identifier. */
typedef struct VexoStringSlot VexoStringSlot;

/* ---- Caller-owned strings -------------------------------------------- */
/* Makes a caller-owned copy of a zero-terminated UTF-16 text.
 *   text  text to copy; null gives null
 * Returns the new string, or null when memory runs out. Release it with
 * Vexo_freeString. */
VEXO_API VexoString Vexo_allocString(const VexoChar *text);

/* Makes a caller-owned string of exactly length units (zero units included).
 *   text    units to copy; null leaves the units zero
 *   length  number of units
 * Returns the new string, or null when memory runs out. */
VEXO_API VexoString Vexo_allocStringLen(const VexoChar *text, uint32_t length);

/* Gives the length in units of a caller-owned string (0 for null). */
VEXO_API uint32_t Vexo_getStringLength(const VexoString string);

/* Releases a caller-owned string; null is ignored. */
VEXO_API void Vexo_freeString(VexoString string);

/* ---- Node classes ------------------------------------------------------ */
/* Tells whether a node is of a class or one of its subclasses.
 *   node   node to test; null gives 0
 *   klass  full class code (Q3_CLASS_... or a node's first word), or a
 *          two-letter tag (Q3_NODETYPE_...); tag 0 stands for every node
 * Returns 1 when the node is of that class, else 0. */
VEXO_API int32_t Vexo_isDerivedFrom(const VexoNode *node, uint32_t klass);

/* Tells whether a node's first word is a class code of the library.
 * Returns S_OK when it is, S_FALSE when it is not, E_INVALIDARG for null. */
VEXO_API HRESULT Vexo_isValidNode(const VexoNode *node);

/* Gives a node's type: the tag of its class (Q3_NODETYPE_...).
 * Returns the tag (0 to 0xFFFF), or -1 for null or a word that is no class code. */
VEXO_API int32_t Vexo_getNodeType(const VexoNode *node);

/* ---- Database ---------------------------------------------------------- */
/* Creates an empty database with its string table, collections node, root
 * group and the seven default groups "@clusters" ... "@views".
 *   id        element identifier of the database; may be null
 *   database  receives the database
 * Returns S_OK; E_INVALIDARG for a null out pointer (nothing written);
 * E_OUTOFMEMORY, with nothing allocated and the out pointer unchanged. */
VEXO_API HRESULT Vexo_create(const VexoChar *id, VexoNode **database);

/* Destroys a database and every node, string and slot it owns. Enumerators,
 * filters, decode states and encoders on it must be released before.
 * Returns S_OK, or E_INVALIDARG (nothing destroyed) for null or a non-database. */
VEXO_API HRESULT Vexo_destroy(VexoNode *database);

/* Gives the DatabaseCollections node of a database.
 *   database     a database, or a DatabaseCollections node (gives itself)
 *   collections  receives the node
 * Returns S_OK; S_FALSE when the database has none; E_POINTER when an
 * argument is null; E_INVALIDARG for any other node. */
VEXO_API HRESULT Vexo_getDatabaseCollections(VexoNode *database, VexoNode **collections);

/* Finds the element with an identifier among all identified elements.
 *   database  the database
 *   id        element identifier (UTF-16)
 *   node      receives the element
 * Returns S_OK; S_FALSE when none has that identifier (node unchanged);
 * E_INVALIDARG when an argument is null or database is no database. */
VEXO_API HRESULT Vexo_findByElementId(VexoNode *database, const VexoChar *id, VexoNode **node);

/* Finds a member of a group by identifier, in logarithmic time. Exact for
 * groups kept in identifier order (Vexo_insertChildren, the default groups);
 * may miss a member of a group filled by Vexo_appendChildren.
 * Returns S_OK; S_FALSE when not found (node unchanged); E_INVALIDARG when an
 * argument is null or group is no ElementGroup kind. */
VEXO_API HRESULT Vexo_findChildByElementId(VexoNode *group, const VexoChar *id, VexoNode **node);

/* Creates an element group.
 *   database   the database
 *   id         element identifier; may be null
 *   parent     group that receives the new group as its last child; may be null
 *   reference  element the group stands for (ElementId kind); may be null
 *   group      receives the group; set as soon as the group exists
 * Returns S_OK; E_POINTER for a null out pointer; E_INVALIDARG when database
 * is no database, reference no ElementId kind of this database or parent a
 * node of another database (nothing created), or when parent is no
 * ElementGroup kind (group created and stored); E_OUTOFMEMORY. */
VEXO_API HRESULT Vexo_createElementGroup(VexoNode *database, const VexoChar *id, VexoNode *parent,
                                         VexoNode *reference, VexoNode **group);

/* Appends nodes to a group's members in array order; null and foreign entries
 * and nodes, timings and records of another database are skipped; a node may
 * be listed more than once.
 * Returns S_OK; E_INVALIDARG when group is null or no ElementGroup kind;
 * E_POINTER for a null array; E_OUTOFMEMORY (the entries before stay). */
VEXO_API HRESULT Vexo_appendChildren(VexoNode *group, uint32_t count, VexoNode *const *nodes);

/* Inserts nodes into a group's members in identifier order, one node per
 * identifier (the first stays), each in logarithmic time; elements without
 * identifier and anything of another database are skipped, timings are
 * appended at the end.
 * Returns as Vexo_appendChildren. */
VEXO_API HRESULT Vexo_insertChildren(VexoNode *group, uint32_t count, VexoNode *const *nodes);

/* Builds an element's qualified identifier: database id "::" element id, or
 * the element id alone for a database without identifier.
 *   database  the database (any ElementId kind is accepted)
 *   element   the element (ElementId kind)
 *   qualified receives a caller-owned string (Vexo_freeString)
 * Returns S_OK; E_INVALIDARG for a null argument or a node of another class. */
VEXO_API HRESULT Vexo_getQualifiedId(const VexoNode *database, const VexoNode *element,
                                     VexoString *qualified);

/* Splits a qualified identifier at its first "::".
 *   qualified  the text (UTF-16)
 *   dbId       receives the database part when not empty; may be null
 *   elementId  receives the element part; may be null
 * Both results are caller-owned strings (Vexo_freeString); an output that is
 * not written keeps its value. Returns S_OK when an output was written, else
 * E_INVALIDARG (also for a null text). */
VEXO_API HRESULT Vexo_splitQualifiedId(const VexoChar *qualified, VexoString *dbId,
                                       VexoString *elementId);

/* ---- String slots ------------------------------------------------------ */
/* Creates a string slot holding one text for one language.
 *   database  the database that owns the slot
 *   language  language identifier (low 16 bits used)
 *   text      the text (UTF-16)
 *   slot      receives the slot, owned by the database
 * Returns S_OK; E_INVALIDARG when database is no database or text or slot is
 * null; E_OUTOFMEMORY. */
VEXO_API HRESULT Vexo_stringCreateSlot(VexoNode *database, uint32_t language, const VexoChar *text,
                                       VexoStringSlot **slot);

/* As Vexo_stringCreateSlot, with 8-bit (UTF-8) text. */
VEXO_API HRESULT Vexo_stringCreateSlotA(VexoNode *database, uint32_t language, const char *text,
                                        VexoStringSlot **slot);

/* Sets a slot's text for a language, replacing an earlier one.
 * Returns S_OK; E_INVALIDARG when database is no database, text is null or
 * slot is null, no slot or a slot of another database; E_OUTOFMEMORY. */
VEXO_API HRESULT Vexo_stringAddAlternative(VexoNode *database, VexoStringSlot *slot, uint32_t language,
                                           const VexoChar *text);

/* As Vexo_stringAddAlternative, with 8-bit (UTF-8) text. */
VEXO_API HRESULT Vexo_stringAddAlternativeA(VexoNode *database, VexoStringSlot *slot, uint32_t language,
                                            const char *text);

/* Looks a slot's text up by language, then by fallback language, then by the
 * language the slot was created with.
 *   text  receives the text, owned by the database; not cleared first
 * Returns S_OK; S_FALSE with null text for a null slot or when no language has
 * a text; E_INVALIDARG for a null out pointer, a non-database or a slot of
 * another database; E_UNEXPECTED when slot is no slot; E_FAIL when no language
 * could be read. */
VEXO_API HRESULT Vexo_stringLookup(VexoNode *database, const VexoStringSlot *slot, uint32_t language,
                                   uint32_t fallbackLanguage, const VexoChar **text);

#endif
