#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

// The main window's logic around the sequence tests, kept out of the window.

// The names of the "Visa Resource" list: every resource matching "?*"; empty with the reason when
// no resource manager opens.
std::vector<std::string> listVisaResources(std::string& error);

// The item selected after the list is refilled: the preferred name (the saved VISA_Resource at
// start-up, none for "Refr.") when it is listed, otherwise the index selected before the refill
// when the new list still has it, otherwise -1 (no selection).
int visaResourceSelection(const std::vector<std::string>& items, const std::string& preferred,
                          int previousIndex);

// The results workbook of a "Sequence Test Auto" run: "<Name>SequenceTest_8.xls" in the folder of
// "Filename clr" (a bare file name there means the current folder).
std::string sequenceWorkbookPath(const std::string& filenameClr, const std::string& name);

// The graph's X range 0..n: 256 for types 0 and 3, 512 for 1, 2 and 4, the sequence test's point
// count (the run state's words per FIFO, 512 until a test sets 256 or 512) for 5 and 6; 512
// without "ADC Rev1".
int graphXRange(int32_t acquisitionType, bool adcRev1, int32_t sequencePoints);

// The instrument group ("Visa Resource", "Command File", "Name") shows for "Sequence Test Auto"
// only.
inline bool instrumentGroupVisible(int32_t acquisitionType) {
    return acquisitionType == 6;
}

}  // namespace tarvo
