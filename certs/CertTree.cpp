#include "certs/CertTree.h"
#include <cstring>

ContainerSlotTable g_containerSlots;

void ResetContainerSlots() { memset(&g_containerSlots, 0, sizeof g_containerSlots); }

int AllocContainerSlot() {
    for (int i = 0; i < CONTAINER_SLOT_COUNT; ++i) {
        if (g_containerSlots.slots[i].inUse == 0) {
            g_containerSlots.slots[i].inUse = 1;
            return i;
        }
    }
    return -1;
}

const char* TagContainerName(CertTreeTag tag) {
    if (tag == 0 || TagKind(tag) == 0) return nullptr;
    uint32_t slot = TagSlot(tag);
    if (slot >= CONTAINER_SLOT_COUNT) return nullptr;
    const char* name = g_containerSlots.slots[slot].name;
    return name[0] ? name : nullptr;
}
