// Compiled as C++17 with -Wall -Wextra -pedantic -Werror: the public headers work from C++,
// and UTF-16 literals are VexoChar text.
#include "vexo/vexo.h"

static_assert(sizeof(VexoChar) == 2, "text units are 16-bit");
static_assert(S_OK == 0 && E_INVALIDARG < 0, "result codes keep their sign");

int vexo_header_check_cpp();
int vexo_header_check_cpp()
{
    const VexoChar *text = u"@frames";
    return text[0] == Q3_GROUPNAME_FRAMES[0] ? 0 : 1;
}
