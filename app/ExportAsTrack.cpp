#include "app/ExportAsTrack.h"

#include "app/Main.h"
#include "app/MainHelpers.h"
#include "transfer/WaveFormats.h"

#include <QCheckBox>
#include <QInputDialog>
#include <QMenu>
#include <QTreeWidget>

namespace th {

std::string FormatColumnText(const std::string& path) {
    const std::optional<AudioFormat> format = ReadAudioFormat(path);
    if (!format)
        return "?";
    return format->type == SampleType::Float ? "float" : "PCM";
}

void InstallExportAsTrack(TMAIN_FORM& form) {
    QTreeWidget* list = form.ListView;
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(
        list, &QWidget::customContextMenuRequested, &form, [&form, list](const QPoint& at) {
            QTreeWidgetItem* row = list->itemAt(at);
            const std::string folder = TMAIN_FORM::NodePath(form.TreeView->currentItem());
            if (!row || folder.empty() || form.Running() != TMAIN_FORM::Transfer::None)
                return;
            const std::string path = folder + "\\" + S(row->text(0));
            auto* menu = new QMenu(list);
            menu->setObjectName("ExportAsTrackMenu");
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->addAction(QStringLiteral("Export as track…"), &form, [&form, path] {
                bool ok = false;
                const int track =
                    QInputDialog::getInt(&form, QStringLiteral("Trackhaul"),
                                         QStringLiteral("Track (1 to 8):"), 1, 1, 8, 1, &ok);
                if (!ok)
                    return;
                form.CreateWaveForm();
                const auto i = static_cast<std::size_t>(track - 1);
                // The file stands in for the folder's "tr0N.wav" while its folder is shown.
                form.ExportJob->TrackSources[i] = path;
                form.Sel.ExportEnabled[i] = true;
                form.P2ZTr[i]->setEnabled(true);
                form.P2ZTr[i]->setChecked(true);
            });
            menu->popup(list->viewport()->mapToGlobal(at));
        });
}

} // namespace th
