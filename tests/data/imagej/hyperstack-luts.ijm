// A 3-channel, 2-slice 16-bit hyperstack with blue, green and magenta LUTs and a display
// range per channel, saved as TIFF. Pixel (x, y) of channel c (1..3), slice z (1..2) holds
// 1000*c + 100*z + 10*y + x. Run: xvfb-run -a imagej -b hyperstack-luts.ijm <folder>
folder = getArgument();
newImage("hs", "16-bit black", 6, 4, 3, 2, 1);
for (c = 1; c <= 3; c++)
    for (z = 1; z <= 2; z++) {
        Stack.setPosition(c, z, 1);
        for (y = 0; y < 4; y++)
            for (x = 0; x < 6; x++)
                setPixel(x, y, 1000 * c + 100 * z + 10 * y + x);
    }
run("Properties...", "channels=3 slices=2 frames=1 unit=micron pixel_width=0.1625 pixel_height=0.1625 voxel_depth=0.5");
Stack.setDisplayMode("composite");
Stack.setChannel(1); run("Blue"); setMinAndMax(1100, 1150);
Stack.setChannel(2); run("Green"); setMinAndMax(2000, 2300);
Stack.setChannel(3); run("Magenta"); setMinAndMax(3120, 3240);
Stack.setChannel(1);
saveAs("Tiff", folder + "/hyperstack-luts.tif");
close();
