/* Vexo: signal database for CAN, CAN FD, FlexRay and LIN networks.
 * Include this one header for the whole public C interface. */
#ifndef VEXO_VEXO_H
#define VEXO_VEXO_H

#include "vexo/types.h"
#include "vexo/constants.h"
#include "vexo/core.h"
#include "vexo/model.h"
#include "vexo/enumerate.h"
#include "vexo/codec.h"
#include "vexo/convert.h"
#include "vexo/decode.h"
#include "vexo/batch.h"
#include "vexo/candump.h"
#include "vexo/encode.h"
#include "vexo/io.h"
#include "vexo/diag.h"
#include "vexo/lua_module.h"

#endif
