#include "hidapi_peer.h"

#include <stdint.h>  // NOLINT(modernize-deprecated-headers): before hidapi.h, outside the namespace
#include <wchar.h>   // NOLINT(modernize-deprecated-headers)

namespace hidapi {
#include <hidapi/hidapi.h>
}  // namespace hidapi

namespace ZELKBench {

bool HidapiInit() {
    return hidapi::hid_init() == 0;
}

int HidapiEnumerate(unsigned short vendor_id, unsigned short product_id) {
    hidapi::hid_device_info* head = hidapi::hid_enumerate(vendor_id, product_id);
    int count = 0;
    for (const hidapi::hid_device_info* info = head; info != nullptr; info = info->next) {
        ++count;
    }
    hidapi::hid_free_enumeration(head);
    return count;
}

void HidapiExit() {
    hidapi::hid_exit();
}

}  // namespace ZELKBench
