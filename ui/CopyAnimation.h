#pragma once
// TCopyAnimation: a small drawn picture of a sheet flying from one folder to
// another, shown by the progress window while files are copied.

#include <QTimer>
#include <QWidget>

namespace duplora {

class TCopyAnimation : public QWidget {
    Q_OBJECT
public:
    explicit TCopyAnimation(QWidget* parent = nullptr);

    // 20 frames a second; a frame only repaints this small widget.
    static constexpr int kFrameMs = 50;
    static constexpr int kFrames = 24;

    void start();
    // Stops on the resting frame (the sheet in the source folder).
    void stop();
    bool running() const { return timer_.isActive(); }
    int frame() const { return frame_; }

    QSize sizeHint() const override { return {272, 60}; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    QTimer timer_;
    int frame_ = 0;
};

} // namespace duplora
