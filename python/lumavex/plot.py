"""Gaze plots: the scan path of each trial, with its fixations as circles sized by duration.

gaze_plot() draws with matplotlib when it is installed (a PNG), and otherwise writes an SVG of its
own, so that a plot comes out on any machine.
"""
import math
import os
from xml.sax.saxutils import escape

COLOURS = ("#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#17becf")


class Trial:
    """One trial's scan path (gaze positions in screen pixels, in time order) and fixations
    ((x, y, duration in ms) each)."""

    def __init__(self, label, xs=None, ys=None, fixations=None):
        self.label = label
        self.xs = list(xs or [])
        self.ys = list(ys or [])
        self.fixations = list(fixations or [])


def _radius(duration_ms, scale):
    # The circle's area grows with the fixation's duration.
    return math.sqrt(max(duration_ms, 1.0)) * scale


def gaze_plot(path, trials, screen=(1024, 768), title="Gaze"):
    """Writes the plot to path (its extension is chosen here: .png with matplotlib, else .svg)
    and returns the file name written."""
    base = os.path.splitext(os.fspath(path))[0]
    try:
        from matplotlib.backends.backend_agg import FigureCanvasAgg
        from matplotlib.figure import Figure
    except ImportError:
        return write_svg(base + ".svg", trials, screen, title)
    width, height = screen
    figure = Figure(figsize=(10, 10 * height / width + 0.6), dpi=100)
    FigureCanvasAgg(figure)
    ax = figure.add_subplot(1, 1, 1)
    for i, trial in enumerate(trials):
        colour = COLOURS[i % len(COLOURS)]
        ax.plot(trial.xs, trial.ys, color=colour, linewidth=0.7, alpha=0.8, label=trial.label)
        if trial.fixations:
            xs, ys, durations = zip(*trial.fixations)
            sizes = [math.pi * _radius(d, 0.9) ** 2 for d in durations]
            ax.scatter(xs, ys, s=sizes, color=colour, alpha=0.3, edgecolors=colour, linewidths=1)
    ax.set_xlim(0, width)
    ax.set_ylim(height, 0)  # screen pixels: y grows downwards
    ax.set_aspect("equal")
    ax.set_xlabel("x (pixels)")
    ax.set_ylabel("y (pixels)")
    ax.set_title(title + " (circles: fixations, area by duration)")
    if trials:
        ax.legend(loc="upper right", fontsize="small")
    figure.tight_layout()
    out = base + ".png"
    figure.savefig(out)
    return out


def write_svg(path, trials, screen=(1024, 768), title="Gaze"):
    """The plot as an SVG file written without any library."""
    width, height = screen
    parts = [
        '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">'
        % (width, height + 30, width, height + 30),
        '<rect x="0" y="30" width="%d" height="%d" fill="white" stroke="black"/>' % (width, height),
        '<text x="8" y="20" font-family="sans-serif" font-size="16">%s (circles: fixations, '
        "area by duration)</text>" % escape(title),
        '<g transform="translate(0,30)">',
    ]
    for i, trial in enumerate(trials):
        colour = COLOURS[i % len(COLOURS)]
        points = " ".join("%.1f,%.1f" % p for p in zip(trial.xs, trial.ys))
        parts.append(
            '<polyline fill="none" stroke="%s" stroke-width="1" points="%s"><title>%s</title>'
            "</polyline>" % (colour, points, escape(trial.label))
        )
        for x, y, duration in trial.fixations:
            parts.append(
                '<circle cx="%.1f" cy="%.1f" r="%.1f" fill="%s" fill-opacity="0.3" stroke="%s"/>'
                % (x, y, _radius(duration, 0.9), colour, colour)
            )
    parts += ["</g>", "</svg>"]
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(parts) + "\n")
    return path
