/* Compiled as C99 with -Wall -Wextra -pedantic -Werror: the public headers are plain C. */
#include "vexo/vexo.h"
#include "vexo/testing.h"

int vexo_header_check_c(void);
int vexo_header_check_c(void)
{
    return (int)sizeof(VexoChar) + (int)Q3_GROUPNAME_FRAMES[0];
}
