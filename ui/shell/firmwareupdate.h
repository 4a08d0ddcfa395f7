// The firmware-update screen: covers the panel while a USB upgrade runs; the home page's tick
// turns its spinner.
#pragma once

#include <QDialog>

class QLabel;

class FirmwareUpdate : public QDialog {
    Q_OBJECT

public:
    explicit FirmwareUpdate(QWidget* parent = nullptr);

    // One tick of the animation (the spinner moves one step every kTicksPerStep ticks).
    void animate();
    void language_changed();
    int step() const { return step_; }

    static constexpr int kSteps = 12;
    static constexpr int kTicksPerStep = 8;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* title_;
    QLabel* hint_;
    int step_ = 0;
    int tickCount_ = 0;
};
