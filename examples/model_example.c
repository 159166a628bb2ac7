/* A host program that builds a tiny model through the public C interface:
 * a database, a few element groups, lookups by identifier and a qualified id. */
#include <stdio.h>
#include <stdlib.h>

#include "vexo/vexo.h"

static void printText(const VexoChar *text)
{
    for (; text && *text; ++text)
        putchar(*text < 0x80 ? (char)*text : '?');
}

static const VexoChar kDbId[] = {'P', 'o', 'w', 'e', 'r', 't', 'r', 'a', 'i', 'n', 0};
static const VexoChar kBody[] = {'B', 'o', 'd', 'y', 0};
static const VexoChar kChassis[] = {'C', 'h', 'a', 's', 's', 'i', 's', 0};

int main(void)
{
    VexoNode *db = NULL, *body = NULL, *chassis = NULL, *found = NULL;
    VexoString qualified = NULL;
    if (Vexo_create(kDbId, &db) != S_OK) {
        fprintf(stderr, "cannot create the database\n");
        return 1;
    }
    if (Vexo_createElementGroup(db, kBody, NULL, NULL, &body) != S_OK
        || Vexo_createElementGroup(db, kChassis, NULL, NULL, &chassis) != S_OK) {
        fprintf(stderr, "cannot create the groups\n");
        Vexo_destroy(db);
        return 1;
    }
    if (Vexo_findByElementId(db, kChassis, &found) == S_OK && found == chassis
        && Vexo_getQualifiedId(db, found, &qualified) == S_OK) {
        printf("found ");
        printText(qualified);
        printf(" (node type 0x%X)\n", (unsigned)Vexo_getNodeType(found));
        Vexo_freeString(qualified);
    }
    Vexo_destroy(db);
    return 0;
}
