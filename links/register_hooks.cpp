#include "links/register_hooks.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "core/global.h"
#include "engine/c331_manage.h"
#include "ledout/clock_record_run.h"
#include "ledout/fpga_manage.h"
#include "ledout/rcv_recovery_file.h"
#include "ui/system/advancedoption.h"
#include "ui/system/smartmapping.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <functional>

namespace linkhooks {

namespace {
c331_manage* engine() { return c331_manage::p_c331_manage; }

void onGuiThread(std::function<void()> work)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}
}  // namespace

void enginePrint()
{
    if (engine())
        engine()->c331_print();
}
void requestOsdReload() { g_osd_update = 1; }

bool reloadFont()
{
    c331_manage* e = engine();
    if (!e)
        return false;
    // Both steps as one: the worker draws with the fonts in between.
    std::lock_guard<std::recursive_mutex> lock(e->osd_op_mutex);
    e->read_c331_font(e->c331_fd);
    return e->copy_fonts(e->c331_fd);
}
uint32_t videoFlashSize() { return engine() && engine()->c331_fd >= 0 ? c331osd::kFlashSize : 0; }

bool videoFlashErase(uint32_t first, uint32_t count, int mode)
{
    return engine() && engine()->erase_flash(engine()->c331_fd, int(first), int(count), char(mode)) == 0;
}

bool videoFlashWrite(uint32_t address, const uint8_t* data, uint32_t length)
{
    return engine() &&
           engine()->write_flash(engine()->c331_fd, int(address), int(length), reinterpret_cast<const char*>(data)) == 0;
}

bool videoFlashRead(uint32_t address, uint8_t* out, uint32_t length)
{
    return engine() && engine()->read_flash(engine()->c331_fd, int(address), int(length),
                                            reinterpret_cast<char*>(out), int(length)) == 0;
}

namespace {
constexpr unsigned kFpgaRegisters = fpga_manage::kRegisters;
constexpr unsigned kParaBlock = 1024;
// Register numbers 97-127 name nothing in the FPGAs or their shadows.
bool fpgaRegister(unsigned reg) { return reg < kFpgaRegisters && (reg < 97 || reg > 127); }
fpga_manage* manager() { return fpga_manage::p_fpga_manage; }
}  // namespace

bool fpgaWriteRegister(unsigned reg, uint8_t mask, uint8_t value, int fpga)
{
    if (!manager() || !fpgaRegister(reg) || fpga < 0 || fpga > 1)
        return false;
    manager()->write_to_register(int(reg), mask, value, fpga);
    return true;
}

std::vector<uint8_t> fpgaCommandRecord()
{
    if (!manager())
        return {};
    std::vector<uint8_t> copy(manager()->MCU_RAM_CMD, manager()->MCU_RAM_CMD + sizeof manager()->MCU_RAM_CMD);
    manager()->recordTaken(copy.data());
    return copy;
}

bool fpgaRunCommandRecord(const uint8_t* record)
{
    return !manager() || manager()->run_command_record(record);
}

bool fpgaReadRegisters(unsigned reg, unsigned count, int fpga, uint8_t* out)
{
    if (!manager() || reg + count > kFpgaRegisters || fpga < 0 || fpga > 1)
        return false;
    for (unsigned i = 0; i < count; ++i) {
        manager()->read_from_register(int(reg + i), fpga);
        out[i] = manager()->shadow(int(reg + i), fpga);
    }
    return true;
}

bool fpgaWriteRam(const uint8_t* data, uint32_t offset, uint32_t length, int ramId, int fpga)
{
    return manager() && manager()->write_fpga_ram(data, offset, length, uint8_t(ramId), fpga) >= 0;
}

bool fpgaReadRam(uint8_t* out, uint32_t offset, uint32_t length, int ramId, int fpga)
{
    return manager() && manager()->read_fpga_ram(out, offset, length, uint8_t(ramId), fpga) >= 0;
}

bool fpgaStoreNetPara(int fpga, uint32_t offset, const uint8_t* data, uint32_t length)
{
    if (!manager() || fpga < 0 || fpga > 1 || offset > kParaBlock || length > kParaBlock - offset)
        return false;
    std::memcpy(manager()->MCU_RAM_PARA_func[fpga] + offset, data, length);
    manager()->T71_back_mcu_set_net_para(fpga);
    manager()->T71_mcu_set_net_para(fpga);
    return true;
}

void recordTiming()
{
    if (manager())
        manager()->clockSet();
}

namespace {
// The file reader lists the directory again.
void rereadDir(const char* dir)
{
    if (manager() && manager()->rcv_recovery)
        manager()->rcv_recovery->get_dir_file(dir);
}
}  // namespace

// The reader's lists are what the pages count and the jobs look for. The page in front follows on
// the GUI thread (the links call from their own threads), and only while it is still in front.
void recoveryFilesChanged(bool deleted)
{
    rereadDir("/data/rcvrecovery");
    onGuiThread([deleted] {
        AdvancedOption* page = g_advancedoption;
        if (!page || g_page_focus.load() != AdvancedOption::kFocus)
            return;
        if (deleted && page->rcv_self_recovery_ornot())
            page->on_Button_back_clicked();
        else
            page->language_changed();
    });
}

void scanFilesChanged()
{
    rereadDir("/data/smartmapping");
    onGuiThread([] {
        if (g_smartmapping && g_page_focus.load() == SmartMapping::kFocus)
            g_smartmapping->on_Button_back_clicked();   // stays while a job's ring is shown
    });
}

}  // namespace linkhooks
