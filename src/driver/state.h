// The tool's one state record: zero at start, owned by main, passed by
// reference. Each part is declared by the subsystem that owns it; every
// step takes only the parts it uses.
#pragma once

#include "bitmap/bmp.h"
#include "move/lm_pass.h"
#include "move/world_backup.h"
#include "platform/platform.h"
#include "report/console_text.h"
#include "world/layers.h"
#include "world/world.h"

// The driver's part: the two dialog descriptions, the one path buffer that
// every dialog and every open shares, whether the layer questions still
// take answers, and the answers given ahead.
struct DialogState {
    platform::FileDialog WorldFileDialog;
    platform::FileDialog BitmapFileDialog;
    char FileNameBuffer[platform::kFileNameBufferSize];
    bool LayerQuestionsStopped;    // a script answered one with a stray line
    platform::GivenAnswers Given;  // the command line's answers, taken in turn
};

struct AppState {
    console::Report Report;
    WorldFile World;
    WorldBackup Backup;  // made by the run's first import
    LayerSlot Layers[kLayerCount];
    BitmapState Bitmap;
    DialogState Dialogs;
};
