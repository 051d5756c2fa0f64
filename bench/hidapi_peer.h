#pragma once

// hidapi's hidraw back end, the peer figure: kept in its own file because its types share their
// names with the product's HID transport.
namespace ZELKBench {

// hid_init; false when it fails.
bool HidapiInit();
// One hid_enumerate(vendor_id, product_id) and hid_free_enumeration; the number of entries.
int HidapiEnumerate(unsigned short vendor_id, unsigned short product_id);
void HidapiExit();

}  // namespace ZELKBench
