// Writes the ImageJ selection files and the Results table the measure tests compare with.
// Run from this folder: xvfb-run -a java -jar /usr/share/java/ij.jar -batch make-roi-testdata.ijm "$PWD"
dir = getArgument();
if (dir == "") exit("usage: ... -batch make-roi-testdata.ijm <output folder>");
dir = dir + "/";

// 64 x 48, value x + 100 y, pixels 0.2 x 0.5 micron.
newImage("ramp", "32-bit black", 64, 48, 1);
for (y = 0; y < 48; y++) for (x = 0; x < 64; x++) setPixel(x, y, x + 100 * y);
run("Properties...", "channels=1 slices=1 frames=1 unit=micron pixel_width=0.2 pixel_height=0.5 voxel_depth=1");
run("Set Measurements...", "area mean standard min centroid bounding integrated redirect=None decimal=9");
roiManager("reset");

function add(name) {
  roiManager("add");
  roiManager("select", roiManager("count") - 1);
  roiManager("rename", name);
}
makeRectangle(3, 4, 10, 7); Roi.setStrokeColor("red"); add("rect");
saveAs("Selection", dir + "rect.roi");
makeRectangle(-5, -3, 12, 10); add("rect-outside");
makeOval(3, 4, 11, 9); add("oval");
makeOval(2.5, 3.25, 10.5, 7.75); add("oval-subpixel");
saveAs("Selection", dir + "oval-subpixel.roi");
makeOval(20, 10, 40, 33); add("oval-large");
makePolygon(3, 3, 20, 5, 10, 18); add("polygon");
makePolygon(3.3, 3.7, 20.2, 5.9, 10.5, 18.1); add("polygon-subpixel");
saveAs("Selection", dir + "polygon-subpixel.roi");
makePolygon(30, 2, 36, 40, 42, 2, 26, 26, 46, 26); add("star");
makeSelection("freehand", newArray(1.2, 30.7, 25.5, 4.1), newArray(2.3, 1.1, 40.9, 30.3)); add("freehand");
makeLine(10, 5, 20, 5); add("line");
makeLine(10, 5, 20, 9); add("line-diagonal");
makeLine(3.25, 7.5, 40.75, 30.25); add("line-subpixel");
saveAs("Selection", dir + "line-subpixel.roi");
makeSelection("polyline", newArray(2, 30, 30), newArray(2, 2, 20)); add("polyline");
makePoint(5, 7); add("point");
saveAs("Selection", dir + "point.roi");
roiManager("save", dir + "RoiSet.zip");

// One line per selection: its name and ImageJ's measurements.
out = dir + "RoiSet-results.csv";
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

// Hyperstack positions: c 2, z 3, t 1 of a 2 x 3 x 2 hyperstack.
newImage("hyper", "16-bit black", 32, 32, 2, 3, 2);
roiManager("reset");
Stack.setPosition(2, 3, 1);
makeRectangle(1, 2, 5, 6);
Roi.setPosition(2, 3, 1);
add("c2-z3-t1");
roiManager("save", dir + "RoiSet-hyperstack.zip");
// A plain stack's selection on slice 4.
newImage("stack", "16-bit black", 32, 32, 5);
setSlice(4);
makeOval(4, 5, 9, 7);
Roi.setPosition(4);
saveAs("Selection", dir + "stack-slice4.roi");
