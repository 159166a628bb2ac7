// Creation in one expression for tests: made(Vexo_createFrame, db, u"F", 8u) calls the
// creation function with the out pointer appended, expects S_OK and gives the node.
#pragma once

#include <gtest/gtest.h>

#include "vexo/types.h"

template <class... Params, class... Args>
VexoNode *made(HRESULT (*create)(Params...), Args... args)
{
    VexoNode *node = nullptr;
    EXPECT_EQ(create(args..., &node), S_OK);
    return node;
}
