// Groups whose services are not in the tree yet: refused.
#include "links/message_deal.h"

#define ZEL_REFUSE(name) \
    void message_deal::name(const uint8_t*, unsigned, Reply& r) { r.status(kStatusRefused); }
ZEL_REFUSE(cmd_erase_flash)
ZEL_REFUSE(cmd_write_flash)
ZEL_REFUSE(cmd_read_flash)
ZEL_REFUSE(read_flash_uid)
ZEL_REFUSE(param_save)
ZEL_REFUSE(write_rtc_time)
ZEL_REFUSE(barcode)
ZEL_REFUSE(network)
ZEL_REFUSE(file_transfer)
ZEL_REFUSE(edid_table)
ZEL_REFUSE(write_file_start)
ZEL_REFUSE(write_file_data)
ZEL_REFUSE(write_file_end)
ZEL_REFUSE(delete_file_name)
