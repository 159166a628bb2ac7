/* Vexo enumerators over the model's lists, and node filters. Enumerators are the
 * only way to reach the members of groups and relation lists; filters answer whether
 * a node is selected, for the decoder and for clients. */
#ifndef VEXO_ENUMERATE_H
#define VEXO_ENUMERATE_H

#include "vexo/types.h"
#include "vexo/core.h"

/* An enumerator walks one list of the model from its first entry. It reads the
 * database's lists in place: it sees entries appended behind its position, must not
 * be used after its database is destroyed, and is released only by
 * Vexo_enumeratorDestroy. */
typedef struct VexoEnumerator VexoEnumerator;

/* Orders a search key against a listed node: negative, 0 or positive when the key
 * orders before, equal to or after the entry. */
typedef int32_t (*VexoEnumCompare)(const void *key, const VexoNode *entry);

/* ---- Aiming an enumerator ---------------------------------------------- */
/* Every enumeration function below aims an enumerator at one list:
 *   first argument  the owner of the list, checked first
 *   enumerator      in/out handle: null asks for a new enumerator, which is stored
 *                   there; an enumerator already there is reused and re-aimed,
 *                   whatever list it walked before (no allocation)
 * and returns S_OK with the enumerator before the list's first entry;
 * E_INVALIDARG when the owner is null or of a class not accepted, when the handle
 * pointer is null, or when it holds something that is no enumerator (nothing
 * written); E_OUTOFMEMORY when no new enumerator can be had (the handle stays
 * null). The enumerator belongs to the caller (Vexo_enumeratorDestroy). */

/* Enumerates every element that has an element identifier, by identifier (ordinal
 * order of UTF-16 units).
 *   database  a database, or its DatabaseCollections node
 * Returns as above; E_POINTER (not E_INVALIDARG) when database is null; S_FALSE
 * (nothing aimed) for a database without collections node. */
VEXO_API HRESULT Vexo_enumIdentElements(VexoNode *database, VexoEnumerator **enumerator);

/* Enumerate the members of the default groups "@clusters", "@ECUs", "@PDUs",
 * "@frames", "@signals", "@codings" and "@views", by identifier.
 *   database  a database, or its DatabaseCollections node
 * Return as Vexo_enumIdentElements; E_INVALIDARG also when the group is missing. */
VEXO_API HRESULT Vexo_enumClusters(VexoNode *database, VexoEnumerator **enumerator);
VEXO_API HRESULT Vexo_enumECUs(VexoNode *database, VexoEnumerator **enumerator);
VEXO_API HRESULT Vexo_enumPDUs(VexoNode *database, VexoEnumerator **enumerator);
VEXO_API HRESULT Vexo_enumFrames(VexoNode *database, VexoEnumerator **enumerator);
VEXO_API HRESULT Vexo_enumSignals(VexoNode *database, VexoEnumerator **enumerator);
VEXO_API HRESULT Vexo_enumCodings(VexoNode *database, VexoEnumerator **enumerator);
VEXO_API HRESULT Vexo_enumViews(VexoNode *database, VexoEnumerator **enumerator);

/* Enumerates the members of a group in the order the group keeps them (identifier
 * order after Vexo_insertChildren, insertion order after Vexo_appendChildren).
 *   group  any ElementGroup kind (clusters, ECUs, triggerings, views...)
 * Returns as above. */
VEXO_API HRESULT Vexo_enumChildren(VexoNode *group, VexoEnumerator **enumerator);

/* Enumerates the frame triggerings of a Channel or of a Frame, in the order added.
 * Returns as above; E_INVALIDARG for any other class. */
VEXO_API HRESULT Vexo_enumFrameTriggerings(VexoNode *owner, VexoEnumerator **enumerator);

/* Enumerates the PDU triggerings of a Channel, or the triggerings of a PDU (signal
 * or multiplexed), in the order added. Returns as above. */
VEXO_API HRESULT Vexo_enumPDUTriggerings(VexoNode *owner, VexoEnumerator **enumerator);

/* Enumerates the PDU instances of a Frame or of a Channel, in the order added.
 * Returns as above. */
VEXO_API HRESULT Vexo_enumPDUInstances(VexoNode *owner, VexoEnumerator **enumerator);

/* Enumerates the signal instances laid out in a SignalPDU, or those placing a
 * Signal, in the order added. Returns as above. */
VEXO_API HRESULT Vexo_enumSignalInstances(VexoNode *owner, VexoEnumerator **enumerator);

/* Enumerates the PDU instances and multiplexed parts that refer to a PDU (signal
 * or multiplexed), in the order added. Returns as above. */
VEXO_API HRESULT Vexo_enumParents(VexoNode *pdu, VexoEnumerator **enumerator);

/* Enumerates the dynamic parts of a MultiplexedPDU in ascending switch code.
 * Returns as above. */
VEXO_API HRESULT Vexo_enumDynamicParts(VexoNode *multiplexedPdu, VexoEnumerator **enumerator);

/* Enumerate a Coding's internal-to-physical, or physical-to-internal,
 * computations in the order added. Return as above. */
VEXO_API HRESULT Vexo_enumInternalToPhysicalComputations(VexoNode *coding, VexoEnumerator **enumerator);
VEXO_API HRESULT Vexo_enumPhysicalToInternalComputations(VexoNode *coding, VexoEnumerator **enumerator);

/* Enumerates the Segment records of a MultiplexedPart in the order added. The
 * entries delivered are the records' addresses, valid nodes for the accessors
 * (Vexo_getBitPosition...) as long as the database lives. Returns as above. */
VEXO_API HRESULT Vexo_enumSegments(VexoNode *part, VexoEnumerator **enumerator);

/* Enumerates the ValueRange records of a computation (any computation class) in
 * the order added, delivering the records' addresses. Returns as above. */
VEXO_API HRESULT Vexo_enumRanges(VexoNode *computation, VexoEnumerator **enumerator);

/* ---- Enumerator operations ------------------------------------------- */
/* Gives the total number of entries of the enumerated list (not the number left).
 *   enumerator  the enumerator
 *   count       receives the count
 * Returns S_OK; E_INVALIDARG (nothing written) when an argument is null or the
 * enumerator is no enumerator. */
VEXO_API HRESULT Vexo_enumeratorGetCount(const VexoEnumerator *enumerator, uint32_t *count);

/* Puts an enumerator back before the first entry of its list (an exhausted one
 * too; a list that was empty when aimed is read afresh).
 * Returns S_OK; E_INVALIDARG for null or a foreign object. */
VEXO_API HRESULT Vexo_enumeratorReset(VexoEnumerator *enumerator);

/* Moves an enumerator on by count entries without delivering them.
 *   enumerator  the enumerator
 *   count       entries to pass; 0 moves nothing
 * Returns S_OK, also when it runs past the end (the enumerator is then
 * exhausted); S_FALSE when the list is empty or the enumerator already exhausted
 * (count > 0); E_INVALIDARG for null or a foreign object. */
VEXO_API HRESULT Vexo_enumeratorSkip(VexoEnumerator *enumerator, uint32_t count);

/* Fetches the next entries and advances past them. Entries inserted into the
 * list in identifier order while an enumerator walks it do not upset it: every
 * entry that was there is delivered once, in order, and an inserted entry is
 * delivered when it lands behind the enumerator's position (not when before).
 *   enumerator  the enumerator
 *   wanted      room in entries
 *   entries     receives up to wanted nodes (record addresses for segments and
 *               ranges); the nodes belong to the database
 *   fetched     receives the number delivered; may be null
 * Returns S_OK when at least one entry was delivered, S_FALSE when none. When the
 * list is empty or the enumerator exhausted, fetched is NOT written: set it to 0
 * beforehand. E_INVALIDARG (nothing written) for a null or foreign enumerator or a
 * null entries array. */
VEXO_API HRESULT Vexo_enumeratorNext(VexoEnumerator *enumerator, uint32_t wanted, VexoNode **entries,
                                     uint32_t *fetched);

/* Searches an ordered list from the chunk of the enumerator's position, in
 * logarithmic time, so an entry a little before the position may be found and
 * one in an earlier chunk is not (reset first to search the whole list); the
 * next Vexo_enumeratorNext then delivers the found entry first.
 *   enumerator  a node-list enumerator (not segments or ranges)
 *   key         passed unchanged to compare
 *   compare     orders key against entries as the list is ordered (identifier
 *               for the default groups, switch code for dynamic parts); on an
 *               unordered list the answer is meaningless
 * Returns S_OK with the enumerator on the equal entry; S_FALSE with it where the
 * key would belong, or unmoved when it is exhausted or the list empty;
 * E_INVALIDARG for a null, foreign or record-list enumerator or a null compare. */
VEXO_API HRESULT Vexo_enumeratorFindNext(VexoEnumerator *enumerator, const void *key, VexoEnumCompare compare);

/* Destroys an enumerator; its handle is invalid afterwards.
 * Returns S_OK; E_INVALIDARG for null or a foreign object (nothing released). */
VEXO_API HRESULT Vexo_enumeratorDestroy(VexoEnumerator *enumerator);

/* ---- Node filters ------------------------------------------------------ */
/* A filter answers whether a node is selected. An identifier-list filter selects
 * the elements its identifiers named when it was made; a combination filter
 * selects a node when any of its members does. Filters hold node references but
 * belong to no database; each is released by Vexo_destroyFilter. */
typedef struct VexoFilter VexoFilter;

/* Mode of a filter: with this value in the low byte the filter's answer is
 * inverted (a selected node is refused and the other way round). */
#define VEXO_FILTER_INVERT 1u

/* Creates an identifier-list filter from UTF-16 identifiers.
 *   database  database the identifiers are resolved in, once, now; a null or
 *             non-database makes an empty filter
 *   mode      VEXO_FILTER_INVERT in the low byte inverts the answers; else 0
 *   ids       zero-terminated identifiers one after the other, ended by an empty
 *             one (a second zero unit); null makes an empty filter. Identifiers
 *             that name no element are skipped; duplicates are listed once.
 *   filter    receives the filter, owned by the caller (Vexo_destroyFilter)
 * Returns S_OK; E_INVALIDARG for a null out pointer; E_OUTOFMEMORY (nothing
 * written, nothing left allocated). */
VEXO_API HRESULT Vexo_createIdListFilterW(VexoNode *database, uint32_t mode, const VexoChar *ids,
                                          VexoFilter **filter);

/* As Vexo_createIdListFilterW, with 8-bit (UTF-8) identifiers, each ended by a
 * zero byte and the list by an empty one. */
VEXO_API HRESULT Vexo_createIdListFilterA(VexoNode *database, uint32_t mode, const char *ids,
                                          VexoFilter **filter);

/* Creates a combination filter without members.
 *   mode    VEXO_FILTER_INVERT in the low byte inverts the answers; else 0
 *   filter  receives the filter, owned by the caller (Vexo_destroyFilter)
 * Returns S_OK; E_INVALIDARG for a null out pointer; E_OUTOFMEMORY (nothing
 * written). */
VEXO_API HRESULT Vexo_createCombinationFilter(uint32_t mode, VexoFilter **filter);

/* Appends member filters to a combination filter, in array order. Null entries
 * and entries that are no filters are skipped; a member may be appended twice.
 * Members are not owned: destroy the combination before or with its members.
 * The cycle check costs a comparison when the member is older than the
 * combination or new to combinations, and otherwise a search bounded by the
 * filters ranked between the two. Appends to unrelated filters may run on
 * different threads.
 *   combination  the combination filter
 *   count        entries in filters; must not be 0
 *   filters      the filters to append
 * Returns S_OK; E_INVALIDARG (nothing appended) when combination is null or no
 * combination filter, count is 0, filters is null, or an entry is the combination
 * itself or contains it through its members (a cycle); E_OUTOFMEMORY (the entries
 * before stay appended). */
VEXO_API HRESULT Vexo_appendFilter(VexoFilter *combination, uint32_t count, VexoFilter *const *filters);

/* Tells whether a filter selects a node. A combination filter asks its members in
 * order and stops at the first that selects the node; without members it selects
 * nothing. The filter's inversion mode applies last. A combination met on several
 * paths is asked once, so the cost grows with the number of distinct filters.
 *   filter  the filter
 *   node    the node asked about (only its address is used)
 * Returns S_OK when selected, S_FALSE when not; E_INVALIDARG when an argument is
 * null or filter is no filter; E_OUTOFMEMORY when combinations are nested too
 * deeply (beyond 16 levels) or too many (beyond 16) for the memory left. */
VEXO_API HRESULT Vexo_filterNode(const VexoFilter *filter, const VexoNode *node);

/* Destroys a filter and everything it allocated; the members of a combination
 * filter are not destroyed with it.
 * Returns S_OK; E_INVALIDARG for null or a foreign object (nothing released). */
VEXO_API HRESULT Vexo_destroyFilter(VexoFilter *filter);

#endif
