;; The floor for a page whose program is a WebAssembly file: a hand-written
;; module that fills a 556 x 425 picture (RGBA, from address 0) with the
;; background and 41 discs of radius 4 down a diagonal, as bare.html does.
;; Assembled by bench/web/run.mjs with binaryen's wasm-as.
(module
  (memory (export "memory") 15)
  (func (export "draw")
    (local $i i32) (local $x i32) (local $y i32) (local $k i32) (local $dx i32) (local $dy i32)
    ;; The background.
    (loop $fill
      (i32.store (local.get $i) (i32.const 0xFFF0F0F0))
      (local.set $i (i32.add (local.get $i) (i32.const 4)))
      (br_if $fill (i32.lt_u (local.get $i) (i32.const 945200))))
    ;; Disc k centred on (280 - 7k, 300 - 7k): red where dx^2 + dy^2 <= 16.
    (local.set $k (i32.const 0))
    (loop $discs
      (local.set $dy (i32.const -4))
      (loop $rows
        (local.set $dx (i32.const -4))
        (loop $columns
          (if (i32.le_s (i32.add (i32.mul (local.get $dx) (local.get $dx))
                                 (i32.mul (local.get $dy) (local.get $dy))) (i32.const 16))
            (then
              (local.set $x (i32.add (i32.sub (i32.const 280) (i32.mul (local.get $k) (i32.const 7))) (local.get $dx)))
              (local.set $y (i32.add (i32.sub (i32.const 300) (i32.mul (local.get $k) (i32.const 7))) (local.get $dy)))
              (i32.store (i32.shl (i32.add (i32.mul (local.get $y) (i32.const 556)) (local.get $x)) (i32.const 2))
                         (i32.const 0xFF0000FF))))
          (local.set $dx (i32.add (local.get $dx) (i32.const 1)))
          (br_if $columns (i32.le_s (local.get $dx) (i32.const 4))))
        (local.set $dy (i32.add (local.get $dy) (i32.const 1)))
        (br_if $rows (i32.le_s (local.get $dy) (i32.const 4))))
      (local.set $k (i32.add (local.get $k) (i32.const 1)))
      (br_if $discs (i32.lt_u (local.get $k) (i32.const 41))))))
