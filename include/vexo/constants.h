/* Vexo published constants: node types, flags, encodings, value types, send
 * modes and group names. The Lua module publishes the same names and values. */
#ifndef VEXO_CONSTANTS_H
#define VEXO_CONSTANTS_H

#include "vexo/types.h"

/* ---- Node types (the two-letter tag of a class code) ------------------ */
/* ORDER NODE_CLASS */
#define Q3_NODETYPE_ElementReference              0x7265
#define Q3_NODETYPE_Vexo                          0x6264
#define Q3_NODETYPE_ElementGroup                  0x6765
#define Q3_NODETYPE_DatabaseCollections           0x6364
#define Q3_NODETYPE_Cluster                       0x6C63
#define Q3_NODETYPE_AbsolutelyScheduledTriggering 0x7361
#define Q3_NODETYPE_IdentifierBasedTriggering     0x6269
#define Q3_NODETYPE_MaskedIdentifierTriggering    0x696D
#define Q3_NODETYPE_PDUTriggering                 0x7470
#define Q3_NODETYPE_SignalInstance                0x6973
#define Q3_NODETYPE_Signal                        0x6773
#define Q3_NODETYPE_Coding                        0x6763
#define Q3_NODETYPE_PDUInstance                   0x6970
#define Q3_NODETYPE_MultiplexedPart               0x7478
#define Q3_NODETYPE_Channel                       0x6863
#define Q3_NODETYPE_Frame                         0x7266
#define Q3_NODETYPE_UnitSpec                      0x6E75
#define Q3_NODETYPE_IdentityComputation           0x6369
#define Q3_NODETYPE_LinearComputation             0x636C
#define Q3_NODETYPE_MappedTextComputation         0x746D
#define Q3_NODETYPE_MappedValueComputation        0x766D
#define Q3_NODETYPE_SignalPDU                     0x7370
#define Q3_NODETYPE_MultiplexedPDU                0x7578
#define Q3_NODETYPE_EventControlledTiming         0x7465
#define Q3_NODETYPE_CyclicTiming                  0x7463
#define Q3_NODETYPE_Segment                       0x7473
#define Q3_NODETYPE_ValueRange                    0x7276
#define Q3_NODETYPE_InvalidNode                   0xFFFFFFFFu

/* Full class codes of the abstract classes, for Vexo_isDerivedFrom: class index
 * (bits 31-24), last index of the subtree (bits 23-16), tag (bits 15-0). */
#define Q3_CLASS_ObjectBase                   0x01250000u
#define Q3_CLASS_DatabaseResident             0x02207264u
#define Q3_CLASS_ElementId                    0x03206469u
#define Q3_CLASS_ElementDetail                0x04206465u
#define Q3_CLASS_ElementChild                 0x05166365u
#define Q3_CLASS_FrameTriggering              0x0B0F7466u
#define Q3_CLASS_TransmittableFrameTriggering 0x0C0E6674u
#define Q3_CLASS_Computation                  0x191D6F63u
#define Q3_CLASS_PDU                          0x1E206470u
#define Q3_CLASS_Timing                       0x21236974u

/* ---- Byte order -------------------------------------------------------- */
#define Q3_BYTEORDER_LITTLEENDIAN 0
#define Q3_BYTEORDER_BIGENDIAN    1

/* ---- Signal and value-range flags -------------------------------------- */
#define Q3_FLAG_VALID             0x80000000u
#define Q3_FLAG_LOWERLIMIT_CLOSED 0x1u
#define Q3_FLAG_UPPERLIMIT_CLOSED 0x2u
#define Q3_FLAG_CONSTRAINT_VALID  0x80000000u
#define Q3_FLAG_INTERNALVALUES    0x40000000u
#define Q3_FLAG_SIGNALDEFAULT     0x40000003u

/* ---- Frame triggering flags -------------------------------------------- */
#define Q3_FLAG_CANSTANDARD         0x0u
#define Q3_FLAG_CANEXTENDED         0x1u
#define Q3_FLAG_CANSTD_OR_EXT       0x2u
#define Q3_FLAGMASK_CAN_FRAMETYPE   0x3u
#define Q3_FLAG_CANFD_EXTDATALEN    0x4u
#define Q3_FLAG_CANFD_FASTDATA      0x8u
#define Q3_FLAG_CANFD_ERRORSTATEIND 0x10u
#define Q3_FLAG_LIN_ENH_CHECKSUM    0x20u

/* ---- Encodings of a coding --------------------------------------------- */
#define Q3_ENCODING_INVALID      0
#define Q3_ENCODING_DIRECT       1
#define Q3_ENCODING_1COMPL       2
#define Q3_ENCODING_2COMPL       3
#define Q3_ENCODING_IEEE         4
#define Q3_ENCODING_UNPACKED_BCD 5
#define Q3_ENCODING_PACKED_BCD   6
#define Q3_ENCODING_ASCII        7
#define Q3_ENCODING_TYPEMASK     0xFFFFu
#define Q3_ENCODING_SIGNED       0x10000000u
#define Q3_ENCODING_SIGNMASK     0x10000000u

/* ---- Value types and range checks -------------------------------------- */
#define Q3_VALUETYPE_DOUBLE      0
#define Q3_VALUETYPE_UINT64      1
#define Q3_VALUETYPE_INT64       2
#define Q3_INCOMPATIBLEVALUETYPE (-1)
#define Q3_VALUEINRANGE          0
#define Q3_VALUEBELOWRANGE       1
#define Q3_VALUEABOVERANGE       2

/* ---- Cluster types ----------------------------------------------------- */
#define Q3_CLUSTERTYPE_INVALID 0
#define Q3_CLUSTERTYPE_CAN     1
#define Q3_CLUSTERTYPE_FLEXRAY 2
#define Q3_CLUSTERTYPE_LIN     3
#define Q3_CLUSTERTYPE_MAX     3

/* ---- Encoder send modes ------------------------------------------------ */
#define Q3_ENC_MODE_OFF      0
#define Q3_ENC_MODE_ONCE     1
#define Q3_ENC_MODE_PERIODIC 2

/* ---- Kinds of a decoded value ------------------------------------------ */
#define Q3_NUMERICSIGNAL 0
#define Q3_ASCIISIGNAL   1

/* ---- Entity classes ---------------------------------------------------- */
#define Q3_ENTITYCLASS_CLUSTER   1
#define Q3_ENTITYCLASS_CHANNEL   2
#define Q3_ENTITYCLASS_ECU       3
#define Q3_ENTITYCLASS_FRAME     4
#define Q3_ENTITYCLASS_SIGNAL    5
#define Q3_ENTITYCLASS_MUXPDU    6
#define Q3_ENTITYCLASS_MUXPART   7
#define Q3_ENTITYCLASS_ELSEPART  8
#define Q3_ENTITYCLASS_SIGNALPDU 9
#define Q3_ENTITYCLASS_GLOBALS   10

/* ---- Names of the database's default groups (UTF-16, zero-terminated) -- */
static const VexoChar Q3_GROUPNAME_CLUSTERS[] = {'@', 'c', 'l', 'u', 's', 't', 'e', 'r', 's', 0};
static const VexoChar Q3_GROUPNAME_ECUS[]     = {'@', 'E', 'C', 'U', 's', 0};
static const VexoChar Q3_GROUPNAME_PDUS[]     = {'@', 'P', 'D', 'U', 's', 0};
static const VexoChar Q3_GROUPNAME_FRAMES[]   = {'@', 'f', 'r', 'a', 'm', 'e', 's', 0};
static const VexoChar Q3_GROUPNAME_SIGNALS[]  = {'@', 's', 'i', 'g', 'n', 'a', 'l', 's', 0};
static const VexoChar Q3_GROUPNAME_CODINGS[]  = {'@', 'c', 'o', 'd', 'i', 'n', 'g', 's', 0};
static const VexoChar Q3_GROUPNAME_VIEWS[]    = {'@', 'v', 'i', 'e', 'w', 's', 0};
/* A view identifier for scripts; the library attaches no behaviour to it. */
static const VexoChar Q3_VIEWNAME_ECUVIEW[]   = {'E', 'C', 'U', 'V', 'i', 'e', 'w', 0};

#endif
