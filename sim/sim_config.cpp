#include "sim/sim_config.h"

#include <QSettings>

#include "platform/platform.h"

namespace sim {

namespace {
std::mutex g_mutex;
bool g_loaded = false;
SimConfig g_config;

const char* const kInputKeys[SimConfig::kInputs] = {"EXT", "DVI", "HDMI1", "HDMI2", "HDMI3", "HDMI4"};

SimConfig loadFromFile()
{
    SimConfig c = SimConfig::defaults();
    QSettings s(platform::rootPath(QString::fromStdString(configPath())), QSettings::IniFormat);
    for (int i = 0; i < SimConfig::kInputs; ++i) {
        s.beginGroup(QString("input/%1").arg(kInputKeys[i]));
        InputSignal& in = c.inputs[i];
        in.present = s.value("present", in.present).toBool();
        in.width = static_cast<uint16_t>(s.value("width", in.width).toUInt());
        in.height = static_cast<uint16_t>(s.value("height", in.height).toUInt());
        in.refresh = static_cast<uint16_t>(s.value("refresh", in.refresh).toUInt());
        in.interlaced = s.value("interlaced", in.interlaced).toBool();
        s.endGroup();
    }
    s.beginGroup("cards");
    for (int p = 0; p < SimConfig::kPorts; ++p)
        c.cardsPerPort[p] = static_cast<uint16_t>(s.value(QString("port%1").arg(p), c.cardsPerPort[p]).toUInt());
    c.multifunctionCard = s.value("multifunction", c.multifunctionCard).toBool();
    c.multifunctionPort = s.value("multifunction_port", c.multifunctionPort).toInt();
    c.multifunctionLight = s.value("multifunction_light", c.multifunctionLight).toInt();
    for (int p = 0; p < SimConfig::kPorts; ++p) {
        c.configIds[p] = s.value(QString("port%1_config_id").arg(p), c.configIds[p]).toUInt();
        c.faultyCard[p] = s.value(QString("port%1_faulty_card").arg(p), c.faultyCard[p]).toInt();
    }
    c.saveDelayTicks = s.value("save_delay_ticks", c.saveDelayTicks).toUInt();
    s.endGroup();
    c.clockStart = s.value("clock/start", QString::fromStdString(c.clockStart)).toString().toStdString();
    return c;
}
}  // namespace

SimConfig SimConfig::defaults()
{
    SimConfig c;
    c.inputs[2] = InputSignal{true, 1920, 1080, 60, false};  // 1080p60 on HDMI1
    c.cardsPerPort[0] = 4;
    c.cardsPerPort[1] = 4;
    c.cardsPerPort[16] = 2;
    return c;
}

std::string configPath() { return "/etc/zel-sim.ini"; }

namespace detail {
std::mutex& configMutex() { return g_mutex; }

const SimConfig& loadedConfig()
{
    if (!g_loaded) {
        g_config = loadFromFile();
        g_loaded = true;
    }
    return g_config;
}
}  // namespace detail

SimConfig config()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return detail::loadedConfig();
}

void setConfig(const SimConfig& c)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_config = c;
    g_loaded = true;
}

void reloadConfig()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_config = loadFromFile();
    g_loaded = true;
}

void forgetConfig()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_loaded = false;
}

bool writeConfigFile()
{
    SimConfig c = config();
    platform::makeParentDirs(configPath());
    QSettings s(platform::rootPath(QString::fromStdString(configPath())), QSettings::IniFormat);
    for (int i = 0; i < SimConfig::kInputs; ++i) {
        s.beginGroup(QString("input/%1").arg(kInputKeys[i]));
        s.setValue("present", c.inputs[i].present);
        s.setValue("width", c.inputs[i].width);
        s.setValue("height", c.inputs[i].height);
        s.setValue("refresh", c.inputs[i].refresh);
        s.setValue("interlaced", c.inputs[i].interlaced);
        s.endGroup();
    }
    s.beginGroup("cards");
    for (int p = 0; p < SimConfig::kPorts; ++p)
        s.setValue(QString("port%1").arg(p), c.cardsPerPort[p]);
    s.setValue("multifunction", c.multifunctionCard);
    s.setValue("multifunction_port", c.multifunctionPort);
    s.setValue("multifunction_light", c.multifunctionLight);
    s.setValue("save_delay_ticks", c.saveDelayTicks);
    // Every key, so the file shows what can be set: -1 is no faulty card, an empty start the
    // machine's time.
    for (int p = 0; p < SimConfig::kPorts; ++p) {
        s.setValue(QString("port%1_config_id").arg(p), c.configIds[p]);
        s.setValue(QString("port%1_faulty_card").arg(p), c.faultyCard[p]);
    }
    s.endGroup();
    s.setValue("clock/start", QString::fromStdString(c.clockStart));
    s.sync();
    return s.status() == QSettings::NoError;
}

}  // namespace sim
