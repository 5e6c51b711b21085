// The English words of the web interface. PAPPL shows a vendor attribute
// under the string keyed by its name, each keyword value under "NAME.VALUE"
// and media sizes under "media.NAME"; integers it shows as numbers, so their
// names carry the unit, and its own strings win over ours for its standard
// attributes. Without these the printer pages show raw IPP keywords. The
// texts follow the PPDs' option and choice texts, so a CUPS queue and a
// printer in the app read the same.
#include "app/webui.h"

const char* DfAppEnglishStrings() {
    return R"STRINGS(
"dotforge-dither-method" = "Black and white method";
"dotforge-dither-method.threshold" = "Threshold (sharp edges, best for barcodes and text)";
"dotforge-dither-method.floyd-steinberg" = "Floyd-Steinberg dither";
"dotforge-dither-method.bayer-4x4" = "Ordered dither, Bayer 4x4";
"dotforge-dither-method.burkes" = "Burkes dither";
"dotforge-dither-method.stucki" = "Stucki dither";
"dotforge-dither-method.jarvis-judice-ninke" = "Jarvis-Judice-Ninke dither";
"dotforge-dither-method.sierra" = "Sierra dither";
"dotforge-dither-method.stevenson-arce" = "Stevenson-Arce dither";
"dotforge-dither-method.ordered-4x4" = "Ordered dither, generated 4x4";
"dotforge-dither-method.bayer-8x8" = "Ordered dither, Bayer 8x8";
"dotforge-dither-method.screen-16x16" = "Ordered dither, 16x16 screen";
"dotforge-dither-method.edge-keeping" = "Edge-keeping (sharp codes and text, shaded greys)";
"dotforge-threshold" = "Threshold level (Threshold method; higher prints lighter greys)";
"dotforge-threshold.50" = "50 (only the darkest greys print)";
"dotforge-threshold.128" = "128 (middle grey)";
"dotforge-threshold.225" = "225 (light greys print too)";
"dotforge-brightness" = "Brightness (below 0 darker, above 0 lighter)";
"dotforge-brightness.-100" = "-100 (darker)";
"dotforge-brightness.0" = "Normal";
"dotforge-brightness.100" = "+100 (lighter)";
"dotforge-contrast" = "Contrast (below 0 flatter, above 0 stronger)";
"dotforge-contrast.-50" = "-50 (flatter)";
"dotforge-contrast.0" = "Normal";
"dotforge-contrast.100" = "+100 (stronger)";
"dotforge-rotation" = "Rotate page";
"dotforge-rotation.none" = "No rotation";
"dotforge-rotation.half-turn" = "Half turn (180 degrees)";
"dotforge-rotation.quarter-turn-ccw" = "Quarter turn counter-clockwise";
"dotforge-rotation.quarter-turn-cw" = "Quarter turn clockwise";
"dotforge-shift-horizontal" = "Horizontal shift (steps of 8 mm, below 0 to the right)";
"dotforge-shift-horizontal.-3" = "24 mm to the right";
"dotforge-shift-horizontal.-2" = "16 mm to the right";
"dotforge-shift-horizontal.-1" = "8 mm to the right";
"dotforge-shift-horizontal.0" = "No shift";
"dotforge-shift-horizontal.1" = "8 mm to the left";
"dotforge-shift-horizontal.2" = "16 mm to the left";
"dotforge-shift-horizontal.3" = "24 mm to the left";
"dotforge-shift-vertical" = "Vertical shift (steps of 8 mm, below 0 up)";
"dotforge-shift-vertical.-3" = "24 mm up";
"dotforge-shift-vertical.-2" = "16 mm up";
"dotforge-shift-vertical.-1" = "8 mm up";
"dotforge-shift-vertical.0" = "No shift";
"dotforge-shift-vertical.1" = "8 mm down";
"dotforge-shift-vertical.2" = "16 mm down";
"dotforge-shift-vertical.3" = "24 mm down";
"dotforge-print-method" = "Print method";
"dotforge-print-method.direct" = "Direct thermal (no ribbon)";
"dotforge-print-method.ribbon" = "Thermal transfer (ribbon)";
"dotforge-compression" = "Compress bitmaps";
"dotforge-compression.off" = "Off (works with every printer)";
"dotforge-compression.on" = "On (faster on printers that support it)";
"dotforge-feed-offset" = "Feed after each page (mm)";
"dotforge-feed-offset.0" = "None";
"dotforge-cut-media" = "Cut the paper";
"dotforge-cut-media.none" = "Never";
"dotforge-cut-media.every-page" = "After every page";
"dotforge-cut-media.end-of-job" = "Once, after the last page";
"dotforge-cut-type" = "Kind of cut";
"dotforge-cut-type.partial" = "Partial (a tab holds the receipt)";
"dotforge-cut-type.full" = "Full";
"dotforge-cash-drawer" = "Cash drawer";
"dotforge-cash-drawer.none" = "Do not open";
"dotforge-cash-drawer.before-print" = "Open before printing each page";
"dotforge-cash-drawer.after-print" = "Open after printing each page";
"dotforge-sound-before" = "Sound before printing";
"dotforge-sound-before.none" = "None";
"dotforge-sound-before.every-page" = "Before every page";
"dotforge-sound-before.every-document" = "Before every document";
"dotforge-sound-after" = "Sound after printing";
"dotforge-sound-after.none" = "None";
"dotforge-sound-after.every-page" = "After every page";
"dotforge-sound-after.every-document" = "After every document";
"dotforge-crop-top" = "Trim blank space at the top (mm)";
"dotforge-crop-top.0" = "Keep";
"dotforge-crop-top.-1" = "All of it";
"dotforge-crop-bottom" = "Trim blank space at the bottom (mm)";
"dotforge-crop-bottom.0" = "Keep";
"dotforge-crop-bottom.-1" = "All of it (saves paper)";
"dotforge-crop-left" = "Trim blank space at the left (mm)";
"dotforge-crop-left.0" = "Keep";
"dotforge-crop-left.-1" = "All of it (centres the content)";
"dotforge-crop-right" = "Trim blank space at the right (mm)";
"dotforge-crop-right.0" = "Keep";
"dotforge-crop-right.-1" = "All of it (centres the content)";
"media.om_label-40x30_40x30mm" = "Label 40 x 30 mm";
"media.om_label-50x30_50x30mm" = "Label 50 x 30 mm";
"media.om_label-57x32_57x32mm" = "Label 57 x 32 mm";
"media.om_label-60x40_60x40mm" = "Label 60 x 40 mm";
"media.om_label-100x50_100x50mm" = "Label 100 x 50 mm";
"media.om_label-100x100_100x100mm" = "Label 100 x 100 mm";
"media.om_label-100x150_100x150mm" = "Label 100 x 150 mm";
"media.na_index-4x6_4x6in" = "Label 4 x 6 in";
"media.om_roll-58-30_48x30mm" = "57-58 mm roll, 30 mm pages";
"media.om_roll-58-50_48x50mm" = "57-58 mm roll, 50 mm pages";
"media.om_roll-58-100_48x100mm" = "57-58 mm roll, 100 mm pages";
"media.om_roll-58-150_48x150mm" = "57-58 mm roll, 150 mm pages";
"media.om_roll-58-200_48x200mm" = "57-58 mm roll, 200 mm pages";
"media.om_roll-58-297_48x297mm" = "57-58 mm roll, 297 mm pages";
"media.om_roll-80-100_72x100mm" = "80 mm roll, 100 mm pages";
"media.om_roll-80-150_72x150mm" = "80 mm roll, 150 mm pages";
"media.om_roll-80-200_72x200mm" = "80 mm roll, 200 mm pages";
"media.om_roll-80-297_72x297mm" = "80 mm roll, 297 mm pages";
"/" = "<p>dotforge drives TSPL and CPCL label printers, ESC/POS receipt printers and Paperang and PeriPage pocket printers. Choose a printer, then <em>Printing Defaults</em> for media, darkness, speed and the black and white method, or <em>Print Test Page</em> to see what the head reaches.</p>";
)STRINGS";
}
