// "Vorschau" of the list editor: the current row's mail as it would be sent, also before the list is
// saved.

#include "listedit/form_grid.h"

#include "listedit/preview_window.h"
#include "mailing/text_codec.h"

void TFormGrid::ToolButtonPreviewClick() {
    CheckInput input = previewInput ? previewInput() : CheckInput{};
    if (input.dataFolder.empty()) input.dataFolder = dataFolder_;
    const int row = CurrentRow();
    RecipientRecord record;
    // The fields as the list file would hold them after "Liste speichern".
    for (int field = 1; field <= RecipientRecord::kFieldCount; ++field)
        record.Field(field) = EncodeLocalText(table_.Cell(row, field), ListLegacy());
    TFormPreview window(this);
    window.SetPreview(PreviewRecord(input, record, row), row);
    runModal_(window);
}
