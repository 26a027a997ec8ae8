// The certificate tree's bookkeeping: the container slot table that holds the
// container names of the current listing, and the item tags that lead from a
// tree item to its slot.
#pragma once
#include <stdint.h>

#define CONTAINER_SLOT_COUNT 6
#define CONTAINER_NAME_SIZE  200

#pragma pack(push, 1)
struct ContainerSlot {
    char name[CONTAINER_NAME_SIZE];   // as the library returns it; empty = no container
    uint8_t inUse;                    // 0 = free, 1 = taken
};
struct ContainerSlotTable {
    ContainerSlot slots[CONTAINER_SLOT_COUNT];
};
#pragma pack(pop)
static_assert(sizeof(ContainerSlotTable) == 1206, "six slots of 201 bytes");

extern ContainerSlotTable g_containerSlots;

void ResetContainerSlots();      // all slots free and empty
int AllocContainerSlot();        // the first free slot, now taken; -1 when all six are

// The 32-bit item data of every tree item: 0 for the root, else
// (slot + 1) with the kind in the top two bits.
typedef uint32_t CertTreeTag;
#define TAG_SPEC1_CERT          0x80000000u   // certificate of key specification 1
#define TAG_SPEC2_CERT          0x40000000u   // certificate of key specification 2
#define TAG_INVALID_CONTAINER   0xC0000000u   // container without a complete certificate
#define TAG_KIND_MASK           0xC0000000u
#define TAG_SLOT_MASK           0x3FFFFFFFu

inline CertTreeTag MakeTag(int slot, uint32_t kind) { return ((uint32_t)slot + 1) | kind; }
inline uint32_t TagKind(CertTreeTag tag) { return tag & TAG_KIND_MASK; }
inline uint32_t TagSlot(CertTreeTag tag) { return (tag - 1) & TAG_SLOT_MASK; }
inline uint32_t TagKeySpec(CertTreeTag tag) {
    return (tag & 0x80000000u) ? 1u : (tag & 0x40000000u) ? 2u : 0u;
}
// The slot's name when the tag may be acted upon (non-zero, of a container
// kind, naming a slot that holds a container), else null.
const char* TagContainerName(CertTreeTag tag);
