// Measures every selection of a ROI set on the test image and writes one line per selection.
// Argument: "<RoiSet.zip>,<results.csv>".
args = split(getArgument(), ",");
if (args.length != 2) exit("usage: ... -batch measure-roiset.ijm <RoiSet.zip>,<results.csv>");
// 64 x 48, value x + 100 y, pixels 0.2 x 0.5 micron (as make-roi-testdata.ijm).
newImage("ramp", "32-bit black", 64, 48, 1);
for (y = 0; y < 48; y++) for (x = 0; x < 64; x++) setPixel(x, y, x + 100 * y);
run("Properties...", "channels=1 slices=1 frames=1 unit=micron pixel_width=0.2 pixel_height=0.5 voxel_depth=1");
run("Set Measurements...", "area mean standard min centroid bounding integrated redirect=None decimal=9");
roiManager("reset");
roiManager("open", args[0]);
out = args[1];
File.delete(out);
cols = newArray("Area", "Mean", "StdDev", "Min", "Max", "X", "Y", "BX", "BY", "Width", "Height", "IntDen", "RawIntDen", "Length", "Angle");
header = "Label";
for (i = 0; i < cols.length; i++) header = header + "," + cols[i];
File.append(header, out);
for (r = 0; r < roiManager("count"); r++) {
  roiManager("select", r);
  run("Clear Results");
  run("Measure");
  line = Roi.getName;
  for (i = 0; i < cols.length; i++) line = line + "," + d2s(getResult(cols[i], 0), 9);
  File.append(line, out);
}
