// chain: a chain of 41 red links on a canvas, its free end following the
// pointer or a finger. MIT licence.

/** What start gives back once the chain shows. */
export interface Chain {
  /** The canvas the chain runs on. */
  readonly canvas: HTMLCanvasElement;
  /** Stops the chain: no more frames, and none of its listeners left on the page. */
  stop(): void;
}

export interface StartOptions {
  /**
   * Told, once, the one-line reason ("chain: ...") the chain could not start
   * or stopped; the console's error by default.
   */
  onFailure?: (line: string) => void;
  /**
   * chain.wasm's response (or its promise), where the page has asked for it
   * already, so that it comes while the module loads; else start fetches it
   * from beside chain.mjs.
   */
  wasm?: Response | Promise<Response>;
}

/**
 * Starts a chain on `canvas`, which is sized to 556 x 425 CSS pixels unless
 * its inline style gives it a width. Resolves once the first picture shows;
 * rejects with the failure's line. The canvas raises "chainrest" each time
 * the chain comes to rest. Several chains may run on one page.
 */
export function start(canvas: HTMLCanvasElement, options?: StartOptions): Promise<Chain>;
