// TfmMain: the test program's main window (to be built).
#pragma once
