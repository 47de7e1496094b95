#include "clean/switches.h"

CleanSwitches SwitchesFromWord(uint32_t word)
{
    CleanSwitches sw;
    sw.comments = (word & kOptComments) != 0;
    sw.scripts = (word & kOptScripts) != 0;
    sw.styles = (word & kOptStyles) != 0;
    sw.forms = (word & kOptForms) != 0;
    sw.internet = (word & kOptInternet) != 0;
    sw.meta = (word & kOptMeta) != 0;
    sw.pictures = (word & kOptPictures) != 0;
    sw.modules = (word & kOptModules) != 0;
    sw.extract = (word & kOptExtract) != 0;
    sw.frames = (word & kOptFrames) != 0;
    sw.badColors = (word & kOptBadColors) != 0;
    sw.cutTables = (word & kOptCutTables) != 0;
    sw.extractFirst = (word & kOptExtractFirst) != 0;
    sw.anyLayout = (word & kOptAnyLayout) != 0;
    return sw;
}
