#include "restore/CProps.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "app/BackupApp.h"
#include "platform/DialogUnits.h"
#include "platform/ElidedLabel.h"
#include "platform/StoredQText.h"

namespace corvane {

namespace {

constexpr const char* kTimePattern = "%a %b %d, %Y  %I%M%p";
const QColor kNameColour(10, 10, 192);

QString TimeText(std::int64_t time) {
    return QString::fromLocal8Bit(FormatTime(time, kTimePattern));
}

}  // namespace

CProps::CProps(const CItemData* shown, QWidget* parent) : QDialog(parent), item(shown) {
    setWindowTitle(QStringLiteral("Properties"));
    setFont(DialogFont());
    DialogUnits du(font());
    setFixedSize(du.x(186), du.y(100));

    auto* frame = new QFrame(this);
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setGeometry(du.rect(4, 2, 49, 47));

    auto* name = new ElidedLabel(this);
    PlaceControl(name, du, 1020, 62, 6, 117, 18);
    name->setAlignment(Qt::AlignCenter);
    name->setFont(theApp().dialogFont);
    QPalette blue = name->palette();
    blue.setColor(QPalette::WindowText, kNameColour);
    name->setPalette(blue);

    auto* line = new QFrame(this);
    line->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    line->setGeometry(du.rect(64, 27, 116, 1));

    auto label = [&](const char* text, int x, int y, int w, int h) {
        auto* l = new QLabel(QString::fromUtf8(text), this);
        l->setGeometry(du.rect(x, y, w, h));
        return l;
    };
    label("Created :", 67, 30, 32, 8);
    auto* created = new QLabel(QStringLiteral("0"), this);
    PlaceControl(created, du, 1018, 67, 39, 112, 8);
    label("Modified", 67, 54, 28, 8);
    auto* modified = new QLabel(QStringLiteral("0"), this);
    PlaceControl(modified, du, 1019, 67, 63, 110, 8);

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    PlaceControl(cancel, du, 2, 129, 79, 50, 14);
    connect(cancel, &QPushButton::clicked, this, &CProps::reject);

    if (item) {
        created->setText(TimeText(item->created));
        modified->setText(TimeText(item->modified));
        name->SetFullText(StoredTextToQString(item->name));
    } else {
        name->SetFullText(QStringLiteral("name"));
    }
}

}  // namespace corvane
