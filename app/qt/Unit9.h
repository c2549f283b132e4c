// The about window: one picture, shown without waiting and hidden again by a click on it.
#pragma once

#include <QLabel>
#include <QWidget>

namespace quendal {

// A picture that reports clicks, as the GUI's image control does.
class TImage : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;

signals:
    // A left click: pressed and released over the picture.
    void Click();

protected:
    void mouseReleaseEvent(QMouseEvent* AEvent) override;
};

class TForm9 : public QWidget {
    Q_OBJECT

public:
    // Creates the window hidden, at its fixed place, with the picture kept in the program.
    // Raises EJpegError when the picture cannot be decoded.
    explicit TForm9(QWidget* AParent = nullptr);

    // Shows the window and returns at once; a window already shown comes to the front.
    void Show();

    TImage* Image1;

private:
    // Hides the window; the object stays for the next showing.
    void Image1Click();
};

} // namespace quendal
