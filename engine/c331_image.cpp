#include "engine/c331_image.h"

#include "core/ram_layout.h"
#include "core/zelrampara.h"

namespace {
thread_local uint8_t* t_pinned = nullptr;

ZelRamPara* model()
{
    if (!ZelRamPara::p_zelrampara_config)
        ZelRamPara::pInstance();
    return ZelRamPara::p_zelrampara_config;
}
}  // namespace

ImageView ImageView::current() { return ImageView(t_pinned ? t_pinned : model()->ram_para); }

ImagePin::ImagePin(uint8_t* copy) : previous_(t_pinned) { t_pinned = copy; }

ImagePin::~ImagePin() { t_pinned = previous_; }

ImageView ImageView::shadow() { return ImageView(model()->ram_para_shadow); }

int ImageView::colorTemp() const
{
    return static_cast<int>((word(ramaddr::kColorTempMode) & 0xFF) |
                            ((word(ramaddr::kBlueGain) & 0xFF) << 8) |
                            ((word(ramaddr::kGreenGain) & 0xFF) << 16) |
                            (static_cast<uint32_t>(word(ramaddr::kRedGain) & 0xFF) << 24));
}

void imageWriteWord(unsigned addr, uint16_t value)
{
    if (addr + 1 >= ImageView::kSize)
        return;
    // The change dispatcher copies the image for the parameter file under the model's mutex.
    ZelRamPara* m = model();
    pthread_mutex_lock(&m->mutex);
    ram_set_u16(m->ram_para, addr, value);
    pthread_mutex_unlock(&m->mutex);
    if (t_pinned)
        ram_set_u16(t_pinned, addr, value);
}

uint8_t* imageRegStatus() { return model()->reg_status; }
