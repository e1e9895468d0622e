// The chain for the peer pages (p5.js and Paper.js), as the program steps
// it: 41 points, the anchor pinned at (280, 300), gravity and a forward and
// a backward pass that pull each free link within 10 px of its neighbour,
// then the head set to the pointer. In JavaScript's own maths, rounded to
// 32-bit floats where the program rounds; close to the program's, not its
// bits: what the peers are measured on is their first picture.
var f = Math.fround;

function headingAngle(dx, dy) {
  if (Math.abs(dy) < f(1e-7)) {
    if (Math.abs(dx) < f(1e-7)) return 0;
    return dx > 0 ? f(3.14159 / 2) : f(-3.14159 / 2);
  }
  var r = f(Math.atan(dx / dy));
  if (dy >= 0) return r;
  return dx >= 0 ? f(r + 3.14159) : f(r - 3.14159);
}

// Pulls point p back within `length` of the anchor point a.
function constrainLink(p, length, a) {
  var angle = headingAngle(f(p.x - a.x), f(p.y - a.y));
  if (angle < 0) angle = f(angle + 6.28318);
  var d2 = f((p.y - a.y) * (p.y - a.y) + (p.x - a.x) * (p.x - a.x));
  if (f(length * length) >= d2) return;
  p.x = f(length * Math.sin(angle) + a.x);
  p.y = f(length * Math.cos(angle) + a.y);
}

function newChain() {
  var points = [];
  for (var i = 0; i < 41; i++) points.push({x: 0, y: 0});
  points[40].x = 280;
  points[40].y = 300;
  return points;
}

function stepChain(points, mouseX, mouseY) {
  for (var i = 1; i <= 39; i++) {
    points[i].y = f(points[i].y + 2);
    constrainLink(points[i], 10, points[i - 1]);
  }
  for (var n = 39; n >= 1; n--) constrainLink(points[n], 10, points[n + 1]);
  points[0].x = mouseX;
  points[0].y = mouseY;
}
