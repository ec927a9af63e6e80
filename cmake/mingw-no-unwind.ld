/* Added to ld's own script for hotfx.exe. Unwind tables come only from the mingw-w64 library
   pieces that the exe links; hotfx throws nothing, and with its own entry nothing registers
   them, so they would be bytes no code reads. */
SECTIONS
{
  /DISCARD/ : { *(.eh_frame) }
}
INSERT BEFORE .text;
