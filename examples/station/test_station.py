"""One test per board: it passes when the board was identified, programmed and verified."""


def test_board_is_programmed_and_verified(record):
    assert record["outcome"] == "ok", record["message"]
    assert record["message"] == "Program OK!\nCompare OK!"
