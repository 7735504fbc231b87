// Draws a clock a picture can be read back by (tests/support/clock_code.h):
// 32 cells of 16 px, the milliseconds since the epoch modulo 2^32, lowest
// bit first, white for 1; the row below is the complement.
function drawClockCode(g, x, y, ms) {
  const v = ms % 4294967296;
  for (let bit = 0; bit < 32; bit++) {
    const one = Math.floor(v / 2 ** bit) % 2 === 1;
    g.fillStyle = one ? '#fff' : '#000'; g.fillRect(x + bit * 16, y, 16, 16);
    g.fillStyle = one ? '#000' : '#fff'; g.fillRect(x + bit * 16, y + 16, 16, 16);
  }
}
