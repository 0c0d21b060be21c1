# SPDX-License-Identifier: Apache-2.0
"""The ccalib module on the bundled sample plates: the values the runs find, the way they
reach Python (arrays, axes, pitches, labels, transforms) and the errors raised."""
import os

import numpy as np
import pytest

import ccalib

DATA = os.environ.get("CCALIB_DATA_DIR",
                      os.path.join(os.path.dirname(__file__), "..", "..", "data"))


@pytest.fixture(scope="module")
def dots():
    return ccalib.read_image(os.path.join(DATA, "sample-dots.png"))


@pytest.fixture(scope="module")
def checker():
    return ccalib.read_image(os.path.join(DATA, "sample-checker.png"))


def test_robust_run_finds_the_plate_its_marker_and_labels(dots):
    assert dots.shape == (960, 1280) and dots.dtype == np.uint8
    r = ccalib.calibration_run_robust(dots, (2.0, 3.0), calib_type="poly5", rows=17, cols=23)
    n = len(r)
    assert r.image_points.shape == r.plate_points.shape == r.labels.shape == r.residuals.shape == (n, 2)
    assert r.labels.dtype == np.int64
    # The marker on the image of its cell centre (truth 593.507, 470.254).
    assert r.marker_found
    assert r.marker == pytest.approx((593.507, 470.254), abs=0.03)
    # 23 columns along label x, 17 rows along label y.
    assert tuple(r.labels.max(0) - r.labels.min(0) + 1) == (23, 17)
    # Plate positions are labels times the pitch of their own axis.
    np.testing.assert_allclose(r.plate_points, r.labels * [2.0, 3.0])
    # The marker cell's centre lies half a pitch from label (0, 0) along both axes.
    assert r.map(r.marker) == pytest.approx((1.0, 1.5), abs=0.01)
    # Residuals are plate minus mapped image point, through the fitted polynomial.
    np.testing.assert_allclose(r.residuals, r.plate_points - r.map(r.image_points), atol=1e-9)
    assert r.rms_residual < 0.002 and r.max_residual < 0.005
    assert r.rms_residual <= r.max_residual
    np.testing.assert_allclose(r.map(r.map(r.image_points), inverse=True), r.image_points, atol=1e-6)
    # Right-handed plates count plate y against label y.
    rh = ccalib.calibration_run_robust(dots, 1.0, right_handed=True)
    np.testing.assert_allclose(rh.plate_points, rh.labels * [1.0, -1.0])
    # The affine fit as a matrix agrees with map() on an affine run.
    a = ccalib.calibration_run_robust(dots, 1.0)
    np.testing.assert_allclose(a.image_points @ a.affine[:, :2].T + a.affine[:, 2], a.map(a.image_points))
    # A plate of fewer rows than the dots span is refused.
    with pytest.raises(ccalib.NotFoundError):
        ccalib.calibration_run_robust(dots, 1.0, rows=16, cols=23)


def test_specified_run_labels_the_same_dots_with_the_same_axes(dots):
    robust = ccalib.calibration_run_robust(dots, 1.0)
    s = ccalib.calibration_run(dots, 1.0)
    assert s.algorithm == "specified" and len(s) == len(robust) == 17 * 23
    assert s.marker == pytest.approx((593.996, 465.030), abs=0.05)
    np.testing.assert_allclose(s.plate_points, s.labels, atol=0.5)
    # Pairing every dot with the robust run's dot nearest to it: one label offset for all.
    d = np.linalg.norm(s.image_points[:, None, :] - robust.image_points[None, :, :], axis=2)
    nearest = d.argmin(1)
    assert d.min(1).max() < 1.0
    offsets = robust.labels[nearest] - s.labels
    assert (offsets == offsets[0]).all()


def test_checker_vertices_anchored_at_the_fiducial(checker):
    v = ccalib.vertex_feature_extract(checker, (2.0, 3.0), label_mode="fiducial")
    assert v.image_points.shape == v.labels.shape == (len(v), 2) and len(v) > 50
    np.testing.assert_allclose(v.plate_points, v.labels * [2.0, 3.0])
    anchor = v.image_points[(v.labels == [-2, -2]).all(1)]
    assert anchor.shape == (1, 2)
    assert tuple(anchor[0]) == pytest.approx((272.334, 228.772), abs=0.1)
    # Label (0, 0) at a point chosen by the caller.
    p = ccalib.vertex_feature_extract(checker, 1.0, label_mode="point", origin=tuple(anchor[0]))
    np.testing.assert_allclose(p.image_points[(p.labels == 0).all(1)], anchor, atol=1e-6)
    with pytest.raises(ccalib.NotFoundError) as e:
        ccalib.vertex_feature_extract(np.full((200, 300), 128, np.uint8), 1.0, label_mode="fiducial")
    assert e.value.kind.startswith("ccCalib2VertexFeatureDefs::")


def test_images_of_any_layout_and_only_2d_uint8(dots):
    flipped = dots[::-1, :]  # a view with a negative row stride
    a = ccalib.calibration_run_robust(flipped, 1.0)
    b = ccalib.calibration_run_robust(np.ascontiguousarray(flipped), 1.0)
    np.testing.assert_array_equal(a.image_points, b.image_points)
    assert a.marker == pytest.approx((593.507, 959 - 470.254), abs=0.05)
    with pytest.raises(TypeError):
        ccalib.calibration_run_robust(dots.astype(np.float32), 1.0)
    with pytest.raises(TypeError):
        ccalib.vertex_feature_extract(dots.tolist(), 1.0)
    with pytest.raises(ValueError):
        ccalib.calibration_run(np.stack([dots, dots], axis=2), 1.0)


def test_errors_carry_the_library_class_and_message(dots):
    with pytest.raises(ccalib.ParameterError) as e:
        ccalib.calibration_run_robust(dots, 0.0)
    assert isinstance(e.value, ValueError) and isinstance(e.value, ccalib.Error)
    assert e.value.kind == "ccCalibDefs::BadParam" and "pitch" in str(e.value)
    with pytest.raises(ccalib.ParameterError):
        ccalib.vertex_feature_extract(dots, 1.0, tile_size=5)
    with pytest.raises(ccalib.NotFoundError) as e:
        ccalib.calibration_run(np.zeros((120, 160), np.uint8), 1.0)
    assert e.value.kind == "ccCalibDefs::TooFewDotsFound"
    with pytest.raises(ccalib.ImageFileError) as e:
        ccalib.read_image(os.path.join(DATA, "no-such-image.png"))
    assert isinstance(e.value, OSError) and "no-such-image.png" in str(e.value)


def test_deadline_and_cancel_stop_a_run():
    noise = np.random.default_rng(7).integers(0, 256, (2000, 3000), dtype=np.uint8)
    with pytest.raises(ccalib.TimeoutError) as e:
        ccalib.calibration_run_robust(noise, 1.0, timeout=1e-6)
    assert isinstance(e.value, TimeoutError) and e.value.kind == "ccTimeout"
    token = ccalib.CancelToken()
    token.cancel()
    with pytest.raises(ccalib.TimeoutError):
        ccalib.vertex_feature_extract(noise, 1.0, cancel=token)
