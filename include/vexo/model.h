/* Vexo element creation, properties and links: the functions that build a model
 * and read or change the fields of its nodes. Every node argument is checked by
 * its class code before a field is touched; outputs are written only on success. */
#ifndef VEXO_MODEL_H
#define VEXO_MODEL_H

#include "vexo/types.h"
#include "vexo/core.h"

/* ---- Creating elements -------------------------------------------------- */
/* Common to every creation function below (database first, then for the
 * elements that carry one id, the element identifier in UTF-16, may be null):
 *   - the out pointer (last argument) is tested first: null gives E_POINTER;
 *   - database must be a database, else E_INVALIDARG; a node argument that
 *     belongs to another database is E_INVALIDARG too; nothing is created;
 *   - E_OUTOFMEMORY when the node cannot be allocated (nothing created);
 *   - once allocated, the node is stored in the out pointer and stays in the
 *     database whatever a later step returns; those steps are the identifier
 *     (null: the element gets none and is listed in no identifier-ordered
 *     group) and the links named per function, and the result is that of the
 *     last step unless an earlier step marked "checked" below fails;
 *   - E_OUTOFMEMORY from any later step ends the creation at once (the node
 *     then exists with the links made so far);
 *   - a duplicate identifier is no failure: the first element keeps it.
 * Nodes belong to the database and are freed by Vexo_destroy. */

/* Creates a cluster and adds it to "@clusters".
 *   clusterType  Q3_CLUSTERTYPE_..., stored as given
 *   cluster      receives the cluster
 * Returns the result of Vexo_addClusters; the identifier step is checked. */
VEXO_API HRESULT Vexo_createCluster(VexoNode *database, const VexoChar *id, uint32_t clusterType,
                                    VexoNode **cluster);

/* Creates a channel, a member of a cluster when one is given.
 *   cluster  group that receives the channel (Vexo_appendChildren); may be null
 *   channel  receives the channel
 * Returns S_OK; E_INVALIDARG when cluster is no ElementGroup kind (the
 * channel exists, in no cluster); the identifier step is checked. */
VEXO_API HRESULT Vexo_createChannel(VexoNode *database, const VexoChar *id, VexoNode *cluster,
                                    VexoNode **channel);

/* Creates a frame of a length and adds it to "@frames".
 *   length  frame length in bytes
 *   frame   receives the frame
 * Returns the result of Vexo_addFrames; the identifier step is checked. */
VEXO_API HRESULT Vexo_createFrame(VexoNode *database, const VexoChar *id, uint32_t length, VexoNode **frame);

/* Creates a triggering in an absolute schedule slot.
 *   slotId, baseCycle, repetition, flags  schedule values and frame flags
 *   frame      exactly a Frame to link (others ignored); may be null
 *   sourceEcu  exactly an ElementGroup, the sender (others ignored); may be null
 *   channel    exactly a Channel to link (others ignored); may be null
 *   triggering receives the triggering
 * The triggering is listed in the channel's, then the frame's triggerings.
 * Returns the result of the last of these steps (identifier, channel, frame). */
VEXO_API HRESULT Vexo_createAbsolutelyScheduledTriggering(VexoNode *database, const VexoChar *id, uint32_t slotId,
                                                          uint32_t baseCycle, uint32_t repetition, uint32_t flags,
                                                          VexoNode *frame, VexoNode *sourceEcu, VexoNode *channel,
                                                          VexoNode **triggering);

/* Creates a triggering by bus identifier; arguments and results as
 * Vexo_createAbsolutelyScheduledTriggering.
 *   identifier  the bus identifier
 *   flags       frame flags (Q3_FLAG_CAN...) */
VEXO_API HRESULT Vexo_createIdentifierBasedTriggering(VexoNode *database, const VexoChar *id, uint32_t identifier,
                                                      uint32_t flags, VexoNode *frame, VexoNode *sourceEcu,
                                                      VexoNode *channel, VexoNode **triggering);

/* Creates a triggering by masked identifier; arguments and results as
 * Vexo_createAbsolutelyScheduledTriggering.
 *   mask, code  identifier mask and identifier code
 *   flags       frame flags */
VEXO_API HRESULT Vexo_createMaskedIdentifierTriggering(VexoNode *database, const VexoChar *id, uint32_t mask,
                                                       uint32_t code, uint32_t flags, VexoNode *frame,
                                                       VexoNode *sourceEcu, VexoNode *channel,
                                                       VexoNode **triggering);

/* Creates a PDU triggering.
 *   pdu      PDU it triggers: referenced, then listed in its triggerings
 *            (checked); may be null
 *   channel  channel that carries it: set as parent, then listed in its PDU
 *            triggerings; may be null
 *   triggering receives the triggering
 * Returns S_OK, or the failure of the identifier or of a link: E_INVALIDARG
 * when pdu is no PDU or channel no Channel (the triggering exists). */
VEXO_API HRESULT Vexo_createPDUTriggering(VexoNode *database, const VexoChar *id, VexoNode *pdu, VexoNode *channel,
                                          VexoNode **triggering);

/* Creates a signal PDU and adds it to "@PDUs" (checked).
 *   bitLength  PDU length in bits
 *   referrer   PDUInstance or MultiplexedPart that is made to reference the
 *              new PDU, which lists it among its parents; may be null
 *   pdu        receives the PDU
 * Returns the result of the last step: S_OK; E_INVALIDARG when referrer is
 * no ElementReference kind (the PDU exists). */
VEXO_API HRESULT Vexo_createSignalPDU(VexoNode *database, const VexoChar *id, uint32_t bitLength,
                                      VexoNode *referrer, VexoNode **pdu);

/* Creates a multiplexed PDU; as Vexo_createSignalPDU, with the switch field.
 *   switchByteOrder, switchPosition, switchLength  the switch field's layout
 *   defaultSwitchCode                              the default switch value */
VEXO_API HRESULT Vexo_createMultiplexedPDU(VexoNode *database, const VexoChar *id, uint32_t bitLength,
                                           uint32_t switchByteOrder, uint32_t switchPosition,
                                           uint32_t switchLength, uint32_t defaultSwitchCode,
                                           VexoNode *referrer, VexoNode **pdu);

/* Creates a PDU instance that places a PDU in a frame.
 *   byteOrder, bitPosition, updateBitPosition  placement in the frame
 *   pdu       PDU placed: it lists the instance among its parents and the
 *             instance references it; may be null
 *   frame     Frame (or Channel) that holds the instance: set as parent, then
 *             listed in its PDU instances (checked); may be null
 *   instance  receives the instance
 * Returns the result of the last step; E_INVALIDARG when frame or pdu is of a
 * class that cannot take the link (the instance exists). */
VEXO_API HRESULT Vexo_createPDUInstance(VexoNode *database, const VexoChar *id, uint32_t byteOrder,
                                        uint32_t bitPosition, uint32_t updateBitPosition, VexoNode *pdu,
                                        VexoNode *frame, VexoNode **instance);

/* Creates a multiplexed part. Only its parent is set: list it in the PDU with
 * Vexo_addDynamicParts, Vexo_setStaticPart or Vexo_setElsePart.
 *   switchCode      switch value that selects the part
 *   multiplexedPdu  the parent; may be null
 *   part            receives the part
 * Returns S_OK; E_INVALIDARG when the parent is no ElementId kind (the part
 * exists without parent); the identifier step is checked. */
VEXO_API HRESULT Vexo_createMultiplexedPart(VexoNode *database, const VexoChar *id, uint32_t switchCode,
                                            VexoNode *multiplexedPdu, VexoNode **part);

/* Creates a signal and adds it to "@signals".
 *   flags                               signal flags (Q3_FLAG_...)
 *   defaultValue, minValue, maxValue    default, minimum and maximum value
 *   coding    exactly a Coding to reference (others ignored); may be null
 *   signal    receives the signal
 * Returns the result of Vexo_addSignals; the identifier step is checked. */
VEXO_API HRESULT Vexo_createSignal(VexoNode *database, const VexoChar *id, uint32_t flags, double defaultValue,
                                   double minValue, double maxValue, VexoNode *coding, VexoNode **signal);

/* Creates a signal instance that places a signal in a signal PDU.
 *   byteOrder, bitPosition, updateBitPosition  placement in the PDU
 *   signal    exactly a Signal: referenced, and listed in its instances
 *             first of all (others ignored); may be null
 *   pdu       SignalPDU that receives the instance (Vexo_addSignalInstances);
 *             may be null
 *   instance  receives the instance
 * Returns S_OK; E_INVALIDARG when pdu cannot own signal instances (the
 * instance exists); the identifier step is checked. */
VEXO_API HRESULT Vexo_createSignalInstance(VexoNode *database, const VexoChar *id, uint32_t byteOrder,
                                           uint32_t bitPosition, uint32_t updateBitPosition, VexoNode *signal,
                                           VexoNode *pdu, VexoNode **instance);

/* Creates a coding and adds it to "@codings".
 *   bitLength  bit length of the coded value
 *   encoding   Q3_ENCODING_...
 *   unit       exactly a UnitSpec to reference (others ignored); may be null
 *   coding     receives the coding
 * Returns the result of Vexo_addCodings; the identifier step is checked. */
VEXO_API HRESULT Vexo_createCoding(VexoNode *database, const VexoChar *id, uint32_t bitLength, uint32_t encoding,
                                   VexoNode *unit, VexoNode **coding);

/* Creates a unit (UnitSpec) with a display name.
 *   language     language of the display name (low 16 bits used)
 *   displayName  the unit text; null or empty gives a unit without text
 *   unit         receives the unit
 * Returns the result of the identifier step. */
VEXO_API HRESULT Vexo_createUnitSpec(VexoNode *database, const VexoChar *id, uint32_t language,
                                     const VexoChar *displayName, VexoNode **unit);

/* Creates an identity computation (physical value = internal value).
 *   computation  receives the computation
 * Returns the result of the identifier step. */
VEXO_API HRESULT Vexo_createIdentityComputation(VexoNode *database, const VexoChar *id, VexoNode **computation);

/* Creates a linear computation: physical value = internal value * scale + offset.
 *   computation  receives the computation
 * Returns the result of the identifier step. */
VEXO_API HRESULT Vexo_createLinearComputation(VexoNode *database, const VexoChar *id, double scale, double offset,
                                              VexoNode **computation);

/* Creates a computation that maps its value ranges to one value.
 *   computation  receives the computation
 * Returns the result of the identifier step. */
VEXO_API HRESULT Vexo_createMappedValueComputation(VexoNode *database, const VexoChar *id, double value,
                                                   VexoNode **computation);

/* Creates a computation that maps its value ranges to a text.
 *   text         a slot made with Vexo_stringCreateSlot on this database; may
 *                be null
 *   computation  receives the computation
 * Returns the result of the identifier step; E_INVALIDARG (nothing created)
 * when text is anything but a slot of this database. */
VEXO_API HRESULT Vexo_createMappedTextComputation(VexoNode *database, const VexoChar *id, VexoStringSlot *text,
                                                  VexoNode **computation);

/* Creates an element that stands for another element.
 *   reference  the element referred to (ElementId kind); may be null
 *   element    receives the new element
 * Returns the result of the identifier step; E_INVALIDARG (nothing created)
 * when reference is no ElementId kind. */
VEXO_API HRESULT Vexo_createElementReference(VexoNode *database, const VexoChar *id, VexoNode *reference,
                                             VexoNode **element);

/* Creates an ECU: an element group listed in "@ECUs" by identifier (an ECU
 * without identifier is not listed).
 *   database  the database; null gives E_POINTER before the out pointer is
 *             tested, a DatabaseCollections node E_INVALIDARG
 *   ecu       receives the ECU
 * Returns S_OK; E_POINTER; E_INVALIDARG; E_OUTOFMEMORY; the identifier step is
 * checked. */
VEXO_API HRESULT Vexo_createECU(VexoNode *database, const VexoChar *id, VexoNode **ecu);

/* ---- Creating timings --------------------------------------------------- */
/* Timings carry no identifier. Results follow the creation pattern above. */

/* Creates an event-controlled timing.
 *   debounceTime  the debounce time
 *   parent        ElementGroup kind (a triggering) that receives the timing as
 *                 its last child; may be null
 *   timing        receives the timing
 * Returns S_OK; E_INVALIDARG when parent is no ElementGroup kind (the timing
 * exists, in no group). */
VEXO_API HRESULT Vexo_createEventControlledTiming(VexoNode *database, uint32_t debounceTime, VexoNode *parent,
                                                  VexoNode **timing);

/* Creates a cyclic timing; as Vexo_createEventControlledTiming.
 *   cycleTime  the cycle time */
VEXO_API HRESULT Vexo_createCyclicTiming(VexoNode *database, uint64_t cycleTime, VexoNode *parent,
                                         VexoNode **timing);

/* ---- Reading and changing fields ---------------------------------------- */
/* Every function of this family takes the node first and its value last. Each
 * returns S_OK with the field copied (also when it is null or 0), or
 * E_INVALIDARG, with nothing written, when an argument is null or the node is
 * not of a class listed. "Kind of X" means X or a subclass. */

/* Gives the element identifier of an ElementId kind.
 *   id  receives the interned text owned by the database; null when none */
VEXO_API HRESULT Vexo_getElementId(const VexoNode *node, const VexoChar **id);

/* Gives the group an ElementId kind was last put into by a group operation. */
VEXO_API HRESULT Vexo_getGroup(const VexoNode *node, VexoNode **group);

/* Gives the client value of an ElementId kind. */
VEXO_API HRESULT Vexo_getParam(const VexoNode *node, uint32_t *param);

/* Sets the client value of an ElementId kind.
 * Returns S_OK, or E_INVALIDARG (nothing changed) for null or another class. */
VEXO_API HRESULT Vexo_setParam(VexoNode *node, uint32_t param);

/* Gives the parent of an ElementChild kind. */
VEXO_API HRESULT Vexo_getParent(const VexoNode *node, VexoNode **parent);

/* Gives the element an ElementReference kind refers to (for a database: its
 * DatabaseCollections node). */
VEXO_API HRESULT Vexo_getReference(const VexoNode *node, VexoNode **reference);

/* Gives the unit of an element.
 *   node  a Coding (its UnitSpec), a UnitSpec (itself), or another
 *         ElementReference kind (the reference of the element it refers to:
 *         for a Signal, the UnitSpec of its Coding)
 *   unit  receives the unit, or null when a reference on the way is null */
VEXO_API HRESULT Vexo_getUnit(const VexoNode *node, VexoNode **unit);

/* ---- Clusters and frame triggerings ------------------------------------- */
/* Gives the cluster type of a Cluster (Q3_CLUSTERTYPE_...). */
VEXO_API HRESULT Vexo_getClusterType(const VexoNode *node, uint32_t *clusterType);

/* Sets the cluster type of a Cluster; any value is stored as given.
 * Returns S_OK, or E_INVALIDARG (nothing changed) for null or another class. */
VEXO_API HRESULT Vexo_setClusterType(VexoNode *node, uint32_t clusterType);

/* Gives the channel of a FrameTriggering kind (its parent). */
VEXO_API HRESULT Vexo_getChannel(const VexoNode *node, VexoNode **channel);

/* Gives the frame of a FrameTriggering kind (its reference). */
VEXO_API HRESULT Vexo_getFrame(const VexoNode *node, VexoNode **frame);

/* Gives the sending ECU of a FrameTriggering kind. */
VEXO_API HRESULT Vexo_getSourceECU(const VexoNode *node, VexoNode **ecu);

/* Gives the slot of an AbsolutelyScheduledTriggering. */
VEXO_API HRESULT Vexo_getSlotId(const VexoNode *node, uint32_t *slotId);

/* Gives the base cycle of an AbsolutelyScheduledTriggering. */
VEXO_API HRESULT Vexo_getCycleOffset(const VexoNode *node, uint32_t *baseCycle);

/* Gives the cycle repetition of an AbsolutelyScheduledTriggering. */
VEXO_API HRESULT Vexo_getRepetition(const VexoNode *node, uint32_t *repetition);

/* Gives the bus identifier of an IdentifierBasedTriggering. */
VEXO_API HRESULT Vexo_getIdentifier(const VexoNode *node, uint32_t *identifier);

/* Gives the identifier code of a MaskedIdentifierTriggering. */
VEXO_API HRESULT Vexo_getIdentifierCode(const VexoNode *node, uint32_t *code);

/* Gives the identifier mask of a MaskedIdentifierTriggering. */
VEXO_API HRESULT Vexo_getIdentifierMask(const VexoNode *node, uint32_t *mask);

/* Gives the flags of a FrameTriggering kind, a Signal or a ValueRange record,
 * each from its own field. */
VEXO_API HRESULT Vexo_getFlags(const VexoNode *node, uint32_t *flags);

/* Gives the length of a Frame. */
VEXO_API HRESULT Vexo_getLength(const VexoNode *node, uint32_t *length);

/* ---- Lengths, positions and byte orders --------------------------------- */
/* Gives the bit length of a PDU kind, a Coding or a Segment record. */
VEXO_API HRESULT Vexo_getBitLength(const VexoNode *node, uint32_t *bitLength);

/* Gives the fill pattern of a PDU kind (always 0: nothing sets it). */
VEXO_API HRESULT Vexo_getUnusedBytePattern(const VexoNode *node, uint32_t *pattern);

/* Gives the start bit of a PDUInstance, a SignalInstance or a Segment record. */
VEXO_API HRESULT Vexo_getBitPosition(const VexoNode *node, uint32_t *bitPosition);

/* Gives the update-bit position of a PDUInstance or a SignalInstance. */
VEXO_API HRESULT Vexo_getUpdateBitPosition(const VexoNode *node, uint32_t *bitPosition);

/* Gives the byte order (Q3_BYTEORDER_...) of a SignalInstance, a PDUInstance
 * or a Segment record. */
VEXO_API HRESULT Vexo_getByteOrder(const VexoNode *node, uint32_t *byteOrder);

/* ---- Multiplexing ------------------------------------------------------- */
/* Gives the switch value that selects a MultiplexedPart. */
VEXO_API HRESULT Vexo_getSwitchCode(const VexoNode *node, uint32_t *switchCode);

/* Gives the switch field's byte order of a MultiplexedPDU. */
VEXO_API HRESULT Vexo_getSwitchByteOrder(const VexoNode *node, uint32_t *byteOrder);

/* Gives the switch field's start bit of a MultiplexedPDU. */
VEXO_API HRESULT Vexo_getSwitchPosition(const VexoNode *node, uint32_t *position);

/* Gives the switch field's bit length of a MultiplexedPDU. */
VEXO_API HRESULT Vexo_getSwitchLength(const VexoNode *node, uint32_t *length);

/* Gives the default switch value of a MultiplexedPDU. */
VEXO_API HRESULT Vexo_getDefaultSwitchCode(const VexoNode *node, uint32_t *switchCode);

/* Gives the part of a MultiplexedPDU that is always present. */
VEXO_API HRESULT Vexo_getStaticPart(const VexoNode *node, VexoNode **part);

/* Gives the part of a MultiplexedPDU used when no dynamic part matches. */
VEXO_API HRESULT Vexo_getElsePart(const VexoNode *node, VexoNode **part);

/* ---- Signals, codings and computations ---------------------------------- */
/* Gives the default value of a Signal. */
VEXO_API HRESULT Vexo_getDefaultValue(const VexoNode *node, double *value);

/* Gives the minimum value of a Signal. */
VEXO_API HRESULT Vexo_getMinValue(const VexoNode *node, double *value);

/* Gives the maximum value of a Signal. */
VEXO_API HRESULT Vexo_getMaxValue(const VexoNode *node, double *value);

/* Gives the encoding of a Coding (Q3_ENCODING_...). */
VEXO_API HRESULT Vexo_getEncoding(const VexoNode *node, uint32_t *encoding);

/* Gives the factor of a LinearComputation. */
VEXO_API HRESULT Vexo_getScale(const VexoNode *node, double *scale);

/* Gives the offset of a LinearComputation. */
VEXO_API HRESULT Vexo_getOffset(const VexoNode *node, double *offset);

/* Gives the value of a MappedValueComputation. */
VEXO_API HRESULT Vexo_getValue(const VexoNode *node, double *value);

/* Gives the lower limit of a ValueRange record. */
VEXO_API HRESULT Vexo_getLowerLimit(const VexoNode *node, double *limit);

/* Gives the upper limit of a ValueRange record. */
VEXO_API HRESULT Vexo_getUpperLimit(const VexoNode *node, double *limit);

/* ---- Timings ------------------------------------------------------------ */
/* Gives the debounce time of an EventControlledTiming. */
VEXO_API HRESULT Vexo_getDebounceTime(const VexoNode *node, uint32_t *debounceTime);

/* Gives the cycle time of a CyclicTiming. */
VEXO_API HRESULT Vexo_getCycletime(const VexoNode *node, uint64_t *cycleTime);

/* ---- Names and texts ---------------------------------------------------- */
/* Common to this family: database must be a database and node one of its own
 * elements of the class named, else E_INVALIDARG and nothing is written or
 * changed. Texts handed out are interned strings owned by the database; do not
 * free or change them. Languages are 16-bit identifiers (low 16 bits used);
 * a text is looked up by language, then by fallback language, then in the
 * language the slot was created with. */

/* Sets the short name of an ElementDetail kind, replacing the old one.
 *   text  the short name; an empty text is stored as empty
 * Returns S_OK; E_INVALIDARG (also for a null text); E_OUTOFMEMORY (the old
 * short name stays). */
VEXO_API HRESULT Vexo_setShortName(VexoNode *database, VexoNode *node, const VexoChar *text);

/* Gives the short name of an ElementDetail kind, or its element identifier
 * when it has no short name.
 *   text  receives the text, or null when it has neither
 * Returns S_OK; S_FALSE when the text is null; E_INVALIDARG. */
VEXO_API HRESULT Vexo_getShortName(VexoNode *database, const VexoNode *node, const VexoChar **text);

/* Sets the long name of an ElementDetail kind for a language.
 *   text  the long name; an empty text changes nothing
 * Returns S_OK; E_INVALIDARG (also for a null text); E_OUTOFMEMORY. */
VEXO_API HRESULT Vexo_setLongName(VexoNode *database, VexoNode *node, uint32_t language, const VexoChar *text);

/* Gives the long name of an ElementDetail kind.
 *   text  receives the text; not cleared first
 * Returns S_OK; S_FALSE with a null text when the element has no long name;
 * E_INVALIDARG; E_FAIL when no language could be read (text unchanged). */
VEXO_API HRESULT Vexo_getLongName(VexoNode *database, const VexoNode *node, uint32_t language,
                                  uint32_t fallbackLanguage, const VexoChar **text);

/* Sets the description of an ElementDetail kind; as Vexo_setLongName. */
VEXO_API HRESULT Vexo_setDescription(VexoNode *database, VexoNode *node, uint32_t language, const VexoChar *text);

/* Gives the description of an ElementDetail kind; as Vexo_getLongName. */
VEXO_API HRESULT Vexo_getDescription(VexoNode *database, const VexoNode *node, uint32_t language,
                                     uint32_t fallbackLanguage, const VexoChar **text);

/* Sets the long name and the description of an ElementDetail kind at once.
 *   longName, description  the texts; null or empty leaves that text alone
 * Returns S_OK; E_INVALIDARG; E_OUTOFMEMORY when a text could not be stored. */
VEXO_API HRESULT Vexo_setElementDetail(VexoNode *database, VexoNode *node, uint32_t language,
                                       const VexoChar *longName, const VexoChar *description);

/* Gives the long name and the description of an ElementDetail kind.
 *   longName, description  receive the texts; either may be null, not both
 * Returns the result of the description lookup when description is given,
 * else that of the long name lookup (as Vexo_getLongName); E_INVALIDARG. */
VEXO_API HRESULT Vexo_getElementDetail(VexoNode *database, const VexoNode *node, uint32_t language,
                                       uint32_t fallbackLanguage, const VexoChar **longName,
                                       const VexoChar **description);

/* Sets the display name of a UnitSpec for a language; as Vexo_setLongName. */
VEXO_API HRESULT Vexo_setDisplayName(VexoNode *database, VexoNode *unit, uint32_t language, const VexoChar *text);

/* Gives the display name of a UnitSpec; as Vexo_getLongName. */
VEXO_API HRESULT Vexo_getDisplayName(VexoNode *database, const VexoNode *unit, uint32_t language,
                                     uint32_t fallbackLanguage, const VexoChar **text);

/* Gives the text of a MappedTextComputation; as Vexo_getLongName. */
VEXO_API HRESULT Vexo_getTextValue(VexoNode *database, const VexoNode *computation, uint32_t language,
                                   uint32_t fallbackLanguage, const VexoChar **text);

/* ---- Single links ------------------------------------------------------- */
/* A link target must be an element of the same database as the node that holds
 * the link. None of these setters lists a node anywhere, except
 * Vexo_setSignal; relation lists keep old entries when a link changes. */

/* Sets the parent of an ElementChild kind.
 *   parent  an ElementId kind
 * Returns S_OK, or E_INVALIDARG (nothing changed) when an argument is null or
 * of another class or database. */
VEXO_API HRESULT Vexo_setParent(VexoNode *node, VexoNode *parent);

/* Sets the element an ElementReference kind refers to. A database's own
 * reference (its DatabaseCollections node) cannot be changed.
 *   reference  an ElementId kind
 * Returns S_OK, or E_INVALIDARG (nothing changed) when an argument is null or
 * of another class or database, or node is a database. */
VEXO_API HRESULT Vexo_setReference(VexoNode *node, VexoNode *reference);

/* Sets the channel of a FrameTriggering kind.
 *   channel  a Channel; null clears the link
 * Returns S_OK; E_INVALIDARG when triggering is null or of another class;
 * E_FAIL when channel is not a Channel of the same database; nothing changes
 * on failure. */
VEXO_API HRESULT Vexo_setChannel(VexoNode *triggering, VexoNode *channel);

/* Sets the frame of a FrameTriggering kind; as Vexo_setChannel.
 *   frame  a Frame; null clears the link */
VEXO_API HRESULT Vexo_setFrame(VexoNode *triggering, VexoNode *frame);

/* Sets the sending ECU of a FrameTriggering kind; as Vexo_setChannel.
 *   ecu  an ElementGroup kind; null clears the link */
VEXO_API HRESULT Vexo_setSourceECU(VexoNode *triggering, VexoNode *ecu);

/* Makes a part the static part of a multiplexed PDU, and the PDU its parent.
 *   multiplexedPdu  exactly a MultiplexedPDU
 *   part            exactly a MultiplexedPart of the same database
 * Returns S_OK, or E_INVALIDARG (nothing changed). */
VEXO_API HRESULT Vexo_setStaticPart(VexoNode *multiplexedPdu, VexoNode *part);

/* Makes a part the else part of a multiplexed PDU; as Vexo_setStaticPart. */
VEXO_API HRESULT Vexo_setElsePart(VexoNode *multiplexedPdu, VexoNode *part);

/* Links a signal instance to its signal: sets the reference, then lists the
 * instance in the signal's instances (Vexo_addSignalInstances).
 *   instance  exactly a SignalInstance
 *   signal    an ElementId kind, normally a Signal
 * Returns the result of Vexo_addSignalInstances, which is E_INVALIDARG for a
 * target that is neither a Signal nor a SignalPDU (the reference is then set);
 * E_INVALIDARG (nothing changed) for null or another class or database. */
VEXO_API HRESULT Vexo_setSignal(VexoNode *instance, VexoNode *signal);

/* ---- Default groups ----------------------------------------------------- */
/* Each inserts nodes into one default group of a database in identifier order,
 * one node per identifier (the first stays), and records the group in each
 * inserted node's group field. Nodes without identifier, null entries, nodes
 * of another class or database are skipped silently.
 *   database  the database or its DatabaseCollections node
 *   count     number of entries in nodes
 *   nodes     the nodes to add
 * Returns S_OK; E_POINTER when database or nodes is null; E_INVALIDARG for a
 * first argument of another class; S_FALSE when a database has no
 * collections; E_OUTOFMEMORY (the nodes before stay listed). */

/* Adds Cluster kinds to "@clusters". */
VEXO_API HRESULT Vexo_addClusters(VexoNode *database, uint32_t count, VexoNode *const *nodes);

/* Adds ElementGroup kinds to "@ECUs". */
VEXO_API HRESULT Vexo_addECUs(VexoNode *database, uint32_t count, VexoNode *const *nodes);

/* Adds Frame kinds to "@frames". */
VEXO_API HRESULT Vexo_addFrames(VexoNode *database, uint32_t count, VexoNode *const *nodes);

/* Adds PDU kinds (signal and multiplexed PDUs) to "@PDUs". */
VEXO_API HRESULT Vexo_addPDUs(VexoNode *database, uint32_t count, VexoNode *const *nodes);

/* Adds Signal kinds to "@signals". */
VEXO_API HRESULT Vexo_addSignals(VexoNode *database, uint32_t count, VexoNode *const *nodes);

/* Adds Coding kinds to "@codings". */
VEXO_API HRESULT Vexo_addCodings(VexoNode *database, uint32_t count, VexoNode *const *nodes);

/* Adds ElementGroup kinds to "@views". */
VEXO_API HRESULT Vexo_addViews(VexoNode *database, uint32_t count, VexoNode *const *nodes);

/* ---- Relation lists ----------------------------------------------------- */
/* Each appends nodes to a list of an owner in array order, also nodes listed
 * already, and writes the owner link into each appended node where one is
 * named (an earlier value is overwritten). Null entries and nodes of another
 * class or database are skipped silently.
 *   owner  the node whose list grows
 *   count  number of entries in nodes
 *   nodes  the nodes to append
 * Returns S_OK; E_INVALIDARG for a null owner or one of another class;
 * E_POINTER for a null array; E_OUTOFMEMORY (the nodes before stay). */

/* Appends FrameTriggering kinds to the triggerings of a Channel (each gets the
 * channel as parent) or of a Frame (each gets the frame as reference). */
VEXO_API HRESULT Vexo_addFrameTriggerings(VexoNode *owner, uint32_t count, VexoNode *const *nodes);

/* Appends PDUTriggerings to the PDU triggerings of a Channel (parent set) or
 * to the triggerings of a PDU kind (reference set). */
VEXO_API HRESULT Vexo_addPDUTriggerings(VexoNode *owner, uint32_t count, VexoNode *const *nodes);

/* Appends PDUInstances to the PDU instances of a Frame or a Channel; each gets
 * the owner as parent. */
VEXO_API HRESULT Vexo_addPDUInstances(VexoNode *owner, uint32_t count, VexoNode *const *nodes);

/* Appends SignalInstances to the instances of a SignalPDU (parent set) or of
 * a Signal (reference set). */
VEXO_API HRESULT Vexo_addSignalInstances(VexoNode *owner, uint32_t count, VexoNode *const *nodes);

/* Appends Computation kinds to the internal-to-physical computations of a
 * Coding; no link is written. */
VEXO_API HRESULT Vexo_addInternalToPhysicalComputations(VexoNode *coding, uint32_t count, VexoNode *const *nodes);

/* Appends Computation kinds to the physical-to-internal computations of a
 * Coding; no link is written. */
VEXO_API HRESULT Vexo_addPhysicalToInternalComputations(VexoNode *coding, uint32_t count, VexoNode *const *nodes);

/* Appends PDUInstances and MultiplexedParts to the parents of a PDU kind (the
 * elements that place it); no link is written. */
VEXO_API HRESULT Vexo_addParents(VexoNode *pdu, uint32_t count, VexoNode *const *nodes);

/* Inserts MultiplexedParts into the dynamic parts of a MultiplexedPDU in
 * ascending switch-code order, one part per switch code (a part whose code is
 * listed already is skipped and keeps its parent); each inserted part gets the
 * PDU as parent.
 * Returns S_OK; E_POINTER for a null array (tested first); E_INVALIDARG when
 * multiplexedPdu is null or not exactly a MultiplexedPDU; E_OUTOFMEMORY. */
VEXO_API HRESULT Vexo_addDynamicParts(VexoNode *multiplexedPdu, uint32_t count, VexoNode *const *nodes);

/* ---- Segments and value ranges ------------------------------------------ */
/* Appends a bit segment to a MultiplexedPart. Segments are records that the
 * accessors take like nodes (Vexo_getBitPosition, ...).
 *   part                              exactly a MultiplexedPart
 *   byteOrder, bitPosition, bitLength the segment
 * Returns S_OK; E_INVALIDARG when part is null or of another class;
 * E_OUTOFMEMORY (nothing added). */
VEXO_API HRESULT Vexo_addSegment(VexoNode *part, uint32_t byteOrder, uint32_t bitPosition, uint32_t bitLength);

/* Appends a value range to a Computation kind.
 *   lowerLimit, upperLimit  the range
 *   flags                   Q3_FLAG_LOWERLIMIT_CLOSED, Q3_FLAG_UPPERLIMIT_CLOSED, ...
 * Returns S_OK; E_INVALIDARG when computation is null or of another class;
 * E_OUTOFMEMORY (nothing added). */
VEXO_API HRESULT Vexo_addRange(VexoNode *computation, double lowerLimit, double upperLimit, uint32_t flags);

#endif
