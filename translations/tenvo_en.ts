<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>ArchiveList</name>
    <message>
        <source>ファイル名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>フォルダ位置</source>
        <translation>Folder</translation>
    </message>
    <message>
        <source>圧縮形式</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>サイズ</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>文字コード</source>
        <translation>Encoding</translation>
    </message>
</context>
<context>
    <name>ArchiveResult</name>
    <message>
        <source>次の書庫ファイルは解凍できませんでした</source>
        <translation>The following archives could not be extracted</translation>
    </message>
    <message>
        <source>ほか %1 件</source>
        <translation>and %1 more</translation>
    </message>
    <message>
        <source>次の書庫ファイルでは、長すぎる名前を短くして解凍しました</source>
        <translation>In the following archives, names too long were shortened</translation>
    </message>
    <message>
        <source>&#x3000;%1 個の名前</source>
        <translation>  Names shortened: %1</translation>
    </message>
    <message>
        <source>次の書庫ファイルでは、解凍先に同じ名前のファイルがありました</source>
        <translation>In the following archives, files of the same name were already in the destination</translation>
    </message>
    <message>
        <source>既存のファイル %1 個をそのまま残しました</source>
        <translation>Existing files kept: %1</translation>
    </message>
    <message>
        <source>%1 個のファイルを別の名前で解凍しました</source>
        <translation>Files extracted under another name: %1</translation>
    </message>
    <message>
        <source>既存のファイル %1 個をそのまま残し、%2 個のファイルを別の名前で解凍しました</source>
        <translation>Existing files kept: %1; files extracted under another name: %2</translation>
    </message>
    <message>
        <source>次の書庫ファイルはごみ箱に移動できませんでした</source>
        <translation>The following archives could not be moved to the trash</translation>
    </message>
    <message>
        <source>&#x3000;解凍は完了しています</source>
        <translation>  They were extracted completely</translation>
    </message>
    <message>
        <source>書庫ファイルを開けません</source>
        <translation>Cannot open the archive</translation>
    </message>
    <message>
        <source>対応していない形式です</source>
        <translation>Unsupported format</translation>
    </message>
    <message>
        <source>書庫ファイルが壊れています</source>
        <translation>The archive is damaged</translation>
    </message>
    <message>
        <source>パスワード付きの書庫です</source>
        <translation>The archive is password-protected</translation>
    </message>
    <message>
        <source>分割書庫の先頭ではないか、一部が欠けています</source>
        <translation>Not the first part of a multi-part archive, or a part is missing</translation>
    </message>
    <message>
        <source>安全でない項目を飛ばしました</source>
        <translation>Unsafe entries were skipped</translation>
    </message>
    <message>
        <source>解凍先に書き込めません</source>
        <translation>Cannot write to the destination</translation>
    </message>
    <message>
        <source>解凍処理が途中で終了しました</source>
        <translation>The extraction process ended unexpectedly</translation>
    </message>
    <message>
        <source>対応していない圧縮方式です</source>
        <translation>Unsupported compression method</translation>
    </message>
    <message>
        <source>許可されていない操作をしようとしたため解凍を中止しました</source>
        <translation>Extraction was stopped because it attempted a forbidden operation</translation>
    </message>
    <message>
        <source>この形式の解凍ライブラリを読み込めません</source>
        <translation>Cannot load the extraction library for this format</translation>
    </message>
    <message>
        <source>フォルダを作成できません</source>
        <translation>Cannot create the folder</translation>
    </message>
    <message>
        <source>解凍を飛ばしました</source>
        <translation>Skipped</translation>
    </message>
    <message>
        <source>中止したため解凍していません</source>
        <translation>Not extracted because the run was stopped</translation>
    </message>
    <message>
        <source>中止したため一部のファイルだけを解凍しました</source>
        <translation>Only some files were extracted because the run was stopped</translation>
    </message>
    <message>
        <source>解凍に失敗しました (%1)</source>
        <translation>Extraction failed (%1)</translation>
    </message>
    <message>
        <source>次の書庫ファイルの中の書庫ファイルは解凍できませんでした</source>
        <translation>Archives inside the following archives could not be extracted</translation>
    </message>
    <message>
        <source>&#x3000;%1: %2</source>
        <translation>  %1: %2</translation>
    </message>
    <message>
        <source>&#x3000;中の書庫ファイル %1 個を解凍しました</source>
        <translation>  Inner archives extracted: %1</translation>
    </message>
    <message>
        <source>&#x3000;</source>
        <comment>indent</comment>
        <translation>  </translation>
    </message>
    <message>
        <source>&#x3000;中の書庫ファイルを解凍できませんでした: %1: %2</source>
        <translation>  Could not extract an inner archive: %1: %2</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>書庫ファイル一括解凍ユーティリティ
ファイルやフォルダを指定するとそれらをリストに入れてウィンドウを開きます。
--extract-to を指定するとウィンドウを開かずに解凍します。</source>
        <translation>Batch extraction utility for archive files
Given files or folders, opens the window with them in the list.
With --extract-to, extracts without opening a window.</translation>
    </message>
    <message>
        <source>ウィンドウを開かずに書庫ファイルを DIR に解凍する</source>
        <translation>Extract the archives into DIR without opening a window</translation>
    </message>
    <message>
        <source>それぞれの書庫ファイル名でフォルダを作成し、そこに解凍する（同じ名前があれば「名前 (2)」などにする）</source>
        <translation>Extract each archive into a new folder named after it (a name already taken becomes &quot;name (2)&quot; and so on)</translation>
    </message>
    <message>
        <source>書庫ファイル内のフォルダ構造を復元しない(RAR書庫以外)</source>
        <translation>Do not restore the folders stored in the archives (except RAR archives)</translation>
    </message>
    <message>
        <source>同時に解凍する書庫ファイルの数（既定: 設定ファイルの Parallel、なければ CPU の数）</source>
        <translation>Number of archives extracted at the same time (default: Parallel in the settings file, else the number of CPUs)</translation>
    </message>
    <message>
        <source>パスワード付きの書庫に順に試すパスワードを1行に1つずつ書いたファイル（UTF-8）</source>
        <translation>File of passwords to try in turn on password-protected archives, one per line (UTF-8)</translation>
    </message>
    <message>
        <source>--name-folders と共に: 中身がフォルダ1つかファイル1つだけの書庫にはフォルダを作成せず、そのまま解凍先に置く</source>
        <translation>With --name-folders: an archive holding only one folder or one file gets no folder of its own; its content goes straight into the destination</translation>
    </message>
    <message>
        <source>解凍先に同じ名前のファイルがあるとき: overwrite（上書きする、既定）、skip（今あるファイルを残す）、rename（名前を変えて両方残す）、newer（書庫のファイルが新しいときだけ上書きする）</source>
        <translation>When the destination already holds a file of the same name: overwrite (replace it, the default), skip (keep the existing file), rename (keep both under different names), newer (replace it only when the archived file is newer)</translation>
    </message>
    <message>
        <source>__MACOSX、.DS_Store、Thumbs.db、desktop.ini も解凍する</source>
        <translation>Extract __MACOSX, .DS_Store, Thumbs.db and desktop.ini too</translation>
    </message>
    <message>
        <source>書庫の中の書庫も、その隣の同じ名前のフォルダに解凍する（3階層まで）</source>
        <translation>Also extract archives inside archives, each into a folder of its name beside it (up to 3 levels)</translation>
    </message>
    <message>
        <source>すべて解凍できた書庫ファイルをごみ箱に移す（分割書庫はすべての部分）</source>
        <translation>Move each archive that was extracted completely to the trash (all parts of a multi-part archive)</translation>
    </message>
    <message>
        <source>解凍が終わったら解凍先のフォルダをファイルマネージャで開く</source>
        <translation>Open the destination folder in the file manager when done</translation>
    </message>
    <message>
        <source>すべての書庫のファイル名をこの文字コードで読む: %1（既定: 書庫ごとに自動）</source>
        <translation>Read the file names of every archive in this encoding: %1 (default: automatic for each archive)</translation>
    </message>
    <message>
        <source>ウィンドウで記憶したパスワード（デスクトップのキーリング）も順に試す</source>
        <translation>Also try the passwords remembered in the window (the desktop&apos;s keyring)</translation>
    </message>
    <message>
        <source>--encoding には次のどれかを指定してください: %1</source>
        <translation>--encoding takes one of: %1</translation>
    </message>
    <message>
        <source>--existing には overwrite、skip、rename、newer のどれかを指定してください</source>
        <translation>--existing takes one of overwrite, skip, rename, newer</translation>
    </message>
    <message>
        <source>--smart-folders は --name-folders と共に指定してください</source>
        <translation>--smart-folders needs --name-folders</translation>
    </message>
    <message>
        <source>解凍できなかった書庫ファイルだけを表示する</source>
        <translation>Show only the archives that could not be extracted</translation>
    </message>
    <message>
        <source>解凍したファイルをすべて表示する（--version と共に: 解凍処理の保護も表示する）</source>
        <translation>Show every extracted file (with --version: also show how extraction is protected)</translation>
    </message>
    <message>
        <source>解凍処理の保護:</source>
        <translation>Extraction protections:</translation>
    </message>
    <message>
        <source>有効</source>
        <translation>enabled</translation>
    </message>
    <message>
        <source>使えません（このカーネルにはありません）</source>
        <translation>unavailable (not in this kernel)</translation>
    </message>
    <message>
        <source>書庫ファイルごとの結果を1行1つの JSON で標準出力に書く</source>
        <translation>Write each archive&apos;s result to standard output as one line of JSON</translation>
    </message>
    <message>
        <source>--parallel には 1 以上の数を指定してください</source>
        <translation>--parallel takes a number of 1 or more</translation>
    </message>
    <message>
        <source>--quiet、--verbose、--json はどれか1つだけ指定してください</source>
        <translation>Give only one of --quiet, --verbose and --json</translation>
    </message>
    <message>
        <source>書庫ファイル、または書庫ファイルを探すフォルダ</source>
        <translation>Archive files, or folders to search for archive files</translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>--name-folders と --flatten は --extract-to と共に指定してください</source>
        <translation>--name-folders and --flatten need --extract-to</translation>
    </message>
    <message>
        <source>解凍先のフォルダが空です</source>
        <translation>The destination folder is empty</translation>
    </message>
    <message>
        <source>解凍する書庫ファイルかフォルダを指定してください</source>
        <translation>Give the archive files or folders to extract</translation>
    </message>
    <message>
        <source>使い方は「%1 --help」で表示します</source>
        <translation>Run &quot;%1 --help&quot; for usage</translation>
    </message>
    <message>
        <source>ディスプレイが見つからないため、ウィンドウを開けません（--extract-to を指定すると、ディスプレイなしで解凍できます）</source>
        <translation>Cannot open the window because no display was found (with --extract-to, archives are extracted without a display)</translation>
    </message>
</context>
<context>
    <name>CommandLineRun</name>
    <message>
        <source>解凍しました: %1 → %2</source>
        <translation>Extracted: %1 → %2</translation>
    </message>
    <message>
        <source>解凍できませんでした: %1: %2</source>
        <translation>Could not extract: %1: %2</translation>
    </message>
    <message>
        <source>&#x3000;名前を短くしました: %1 → %2</source>
        <translation>  Name shortened: %1 → %2</translation>
    </message>
    <message>
        <source>書庫ファイルがありません: %1</source>
        <translation>No archive files: %1</translation>
    </message>
    <message>
        <source>解凍する書庫ファイルが見つかりませんでした</source>
        <translation>No archive files to extract were found</translation>
    </message>
    <message>
        <source>現在解凍中です... %1 / %2  %3  %4 / %5 (%6%)</source>
        <translation>Extracting... %1 / %2  %3  %4 / %5 (%6%)</translation>
    </message>
    <message>
        <source>  残り %1</source>
        <translation>  %1 left</translation>
    </message>
    <message>
        <source>解凍先のフォルダを作成できません: %1</source>
        <translation>Cannot create the destination folder: %1</translation>
    </message>
    <message>
        <source>パスワードのファイルを読み込めません: %1</source>
        <translation>Cannot read the password file: %1</translation>
    </message>
    <message>
        <source>%1 (空行で飛ばす、Ctrl+C で中止): </source>
        <translation>%1 (empty line to skip, Ctrl+C to stop): </translation>
    </message>
    <message>
        <source>中止しました</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>デスクトップのキーリングが動いていないため、記憶したパスワードを使えません</source>
        <translation>The desktop&apos;s keyring is not running, so remembered passwords cannot be used</translation>
    </message>
    <message>
        <source>解凍先のフォルダを開けません: %1</source>
        <translation>Cannot open the destination folder: %1</translation>
    </message>
    <message>
        <source>&#x3000;書庫ファイルをごみ箱に移しました</source>
        <translation>  Archive moved to the trash</translation>
    </message>
</context>
<context>
    <name>Manual</name>
    <message>
        <source>マニュアルが見つかりません

%1</source>
        <translation>The manual was not found

%1</translation>
    </message>
    <message>
        <source>マニュアルを開けませんでした

%1</source>
        <translation>Could not open the manual

%1</translation>
    </message>
</context>
<context>
    <name>NameFolder</name>
    <message>
        <source>フォルダ </source>
        <translation>The folder </translation>
    </message>
    <message>
        <source> は既に存在しています。</source>
        <translation> already exists.</translation>
    </message>
    <message>
        <source>別の名前でフォルダを作成してください</source>
        <translation>Create the folder under another name</translation>
    </message>
    <message>
        <source>変更するフォルダ名を入力してください</source>
        <translation>Enter the new folder name</translation>
    </message>
    <message>
        <source>フォルダ名の変更</source>
        <translation>Rename Folder</translation>
    </message>
    <message>
        <source> を作成できません。</source>
        <translation> cannot be created.</translation>
    </message>
    <message>
        <source>フォルダ名に「/」は使えません</source>
        <translation>A folder name cannot contain &quot;/&quot;</translation>
    </message>
    <message>
        <source>フォルダ名に使えない文字が含まれています</source>
        <translation>The folder name contains a character that cannot be used</translation>
    </message>
    <message>
        <source>親フォルダがありません</source>
        <translation>The parent folder does not exist</translation>
    </message>
    <message>
        <source>同じ名前のファイルがあります</source>
        <translation>A file of the same name exists</translation>
    </message>
    <message>
        <source>同じ名前のフォルダが既にあります</source>
        <translation>A folder of the same name already exists</translation>
    </message>
    <message>
        <source>書き込む権限がありません</source>
        <translation>No permission to write</translation>
    </message>
    <message>
        <source>名前が長すぎます</source>
        <translation>The name is too long</translation>
    </message>
    <message>
        <source>ディスクに空きがありません</source>
        <translation>The disk is full</translation>
    </message>
</context>
<context>
    <name>PasswordKeeper</name>
    <message>
        <source>パスワードの入力</source>
        <translation>Enter Password</translation>
    </message>
    <message>
        <source>書庫ファイル「%1」はパスワード付きです。
パスワードを入力してください</source>
        <translation>The archive &quot;%1&quot; is password-protected.
Enter the password</translation>
    </message>
    <message>
        <source>パスワードが違います。
書庫ファイル「%1」のパスワードを入力してください</source>
        <translation>Wrong password.
Enter the password of the archive &quot;%1&quot;</translation>
    </message>
</context>
<context>
    <name>QtUserDialogs</name>
    <message>
        <source>この書庫を飛ばす</source>
        <translation>Skip This Archive</translation>
    </message>
    <message>
        <source>中止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>このパスワードを記憶する</source>
        <translation>Remember this password</translation>
    </message>
</context>
<context>
    <name>TimeLeft</name>
    <message>
        <source>残り 約 %1 (%2)</source>
        <translation>About %1 left (%2)</translation>
    </message>
    <message>
        <source>%1 時間 %2 分</source>
        <translation>%1 h %2 min</translation>
    </message>
    <message>
        <source>%1 分 %2 秒</source>
        <translation>%1 min %2 s</translation>
    </message>
    <message>
        <source>%1 秒</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>%1 %2/秒</source>
        <translation>%1 %2/s</translation>
    </message>
</context>
<context>
    <name>clsFolderBlowserDialog</name>
    <message>
        <source>書庫ファイルのあるフォルダを指定してください</source>
        <translation>Choose the folder holding the archive files</translation>
    </message>
    <message>
        <source>解凍先のフォルダを指定してください</source>
        <translation>Choose the destination folder</translation>
    </message>
</context>
<context>
    <name>frmAddFolder</name>
    <message>
        <source> 書庫ファイルをフォルダから追加</source>
        <translation> Add Archives from Folder</translation>
    </message>
    <message>
        <source>フォルダ名</source>
        <translation>Folder</translation>
    </message>
    <message>
        <source>対応書庫ファイル一覧</source>
        <translation>Supported archive files</translation>
    </message>
    <message>
        <source>最新の情報に更新(&amp;R)</source>
        <translation>&amp;Refresh</translation>
    </message>
    <message>
        <source>追加(&amp;A)</source>
        <translation>&amp;Add</translation>
    </message>
    <message>
        <source>キャンセル(&amp;C)</source>
        <translation>&amp;Cancel</translation>
    </message>
    <message>
        <source>すべて選択</source>
        <translation>Select All</translation>
    </message>
    <message>
        <source>すべての選択を解除</source>
        <translation>Deselect All</translation>
    </message>
</context>
<context>
    <name>frmExtract</name>
    <message>
        <source> 解凍</source>
        <translation> Extract</translation>
    </message>
    <message>
        <source>解凍(&amp;E)</source>
        <translation>&amp;Extract</translation>
    </message>
    <message>
        <source>キャンセル(&amp;C)</source>
        <translation>&amp;Cancel</translation>
    </message>
    <message>
        <source>解凍先フォルダ名</source>
        <translation>Destination folder</translation>
    </message>
    <message>
        <source>記憶したパスワード(&amp;P)...</source>
        <translation>Remembered &amp;Passwords...</translation>
    </message>
    <message>
        <source>解凍が終了したらリストを新規作成する</source>
        <translation>Clear the list when extraction is done</translation>
    </message>
    <message>
        <source>それぞれの書庫ファイル名でフォルダを作成し、そこに解凍する</source>
        <translation>Extract each archive into a new folder named after it</translation>
    </message>
    <message>
        <source>中身がフォルダ1つかファイル1つだけの書庫には、フォルダを作成しない</source>
        <translation>No new folder for an archive holding only one folder or one file</translation>
    </message>
    <message>
        <source>書庫ファイル内のフォルダ構造を復元する(RAR書庫以外)</source>
        <translation>Restore the folders stored in the archives (except RAR archives)</translation>
    </message>
    <message>
        <source>解凍が終了したら自動でダイアログを閉じる</source>
        <translation>Close the dialog automatically when extraction is done</translation>
    </message>
    <message>
        <source>不要なファイル(__MACOSX、.DS_Store、Thumbs.db など)を解凍しない</source>
        <translation>Do not extract unneeded files (__MACOSX, .DS_Store, Thumbs.db and the like)</translation>
    </message>
    <message>
        <source>書庫の中の書庫も解凍する(3階層まで)</source>
        <translation>Also extract archives inside archives (up to 3 levels)</translation>
    </message>
    <message>
        <source>解凍が終了したら解凍先フォルダを開く</source>
        <translation>Open the destination folder when extraction is done</translation>
    </message>
    <message>
        <source>すべて解凍できた書庫ファイルをごみ箱に移す</source>
        <translation>Move archives extracted completely to the trash</translation>
    </message>
    <message>
        <source>同じ名前のファイルがあるとき</source>
        <translation>When a file of the same name exists</translation>
    </message>
    <message>
        <source>上書きする</source>
        <translation>Overwrite it</translation>
    </message>
    <message>
        <source>今あるファイルを残す</source>
        <translation>Keep the existing file</translation>
    </message>
    <message>
        <source>名前を変えて両方残す</source>
        <translation>Keep both under different names</translation>
    </message>
    <message>
        <source>書庫のファイルが新しいときだけ上書きする</source>
        <translation>Overwrite only when the archived file is newer</translation>
    </message>
</context>
<context>
    <name>frmMain</name>
    <message>
        <source> ファイル(&amp;F) </source>
        <translation> &amp;File </translation>
    </message>
    <message>
        <source> リストを新規作成(&amp;N) </source>
        <translation> &amp;New List </translation>
    </message>
    <message>
        <source> 書庫ファイルを追加(&amp;A) </source>
        <translation> &amp;Add Archive... </translation>
    </message>
    <message>
        <source> 書庫ファイルをフォルダから追加(&amp;F) </source>
        <translation> Add Archives from &amp;Folder... </translation>
    </message>
    <message>
        <source> リストから削除(&amp;D) </source>
        <translation> &amp;Remove from List </translation>
    </message>
    <message>
        <source> 終了(&amp;E) </source>
        <translation> E&amp;xit </translation>
    </message>
    <message>
        <source> 操作(&amp;C) </source>
        <translation> &amp;Actions </translation>
    </message>
    <message>
        <source> 解凍(&amp;E) </source>
        <translation> &amp;Extract </translation>
    </message>
    <message>
        <source> ヘルプ(&amp;H) </source>
        <translation> &amp;Help </translation>
    </message>
    <message>
        <source> ヘルプ(&amp;H)</source>
        <translation> &amp;Help</translation>
    </message>
    <message>
        <source> バージョン情報(&amp;V) </source>
        <translation> &amp;About Tenvo </translation>
    </message>
    <message>
        <source>デバッグ(&amp;D)</source>
        <translation>&amp;Debug</translation>
    </message>
    <message>
        <source>対応形式表示</source>
        <translation>Show Supported Formats</translation>
    </message>
    <message>
        <source>汎用デバッグ</source>
        <translation>General Debugging</translation>
    </message>
    <message>
        <source>ファイル名の文字コード</source>
        <translation>File Name Encoding</translation>
    </message>
    <message>
        <source>自動</source>
        <translation>Automatic</translation>
    </message>
    <message>
        <source>新規リスト</source>
        <translation>New List</translation>
    </message>
    <message>
        <source>追加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>フォルダから追加</source>
        <translation>Add Folder</translation>
    </message>
    <message>
        <source>リストから削除</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>解凍</source>
        <translation>Extract</translation>
    </message>
    <message>
        <source>ヘルプ</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>このファイルは対応していません</source>
        <translation>This file is not supported</translation>
    </message>
    <message>
        <source>既にリストに登録されています</source>
        <translation>Already in the list</translation>
    </message>
    <message>
        <source>次のファイルは追加できませんでした</source>
        <translation>The following files could not be added</translation>
    </message>
    <message>
        <source>書庫ファイルが見つかりません</source>
        <translation>No archive files found</translation>
    </message>
    <message>
        <source>ファイルを読み込めません</source>
        <translation>Cannot read the file</translation>
    </message>
    <message>
        <source>ほか %1 件</source>
        <translation>and %1 more</translation>
    </message>
</context>
<context>
    <name>frmPasswords</name>
    <message>
        <source> 記憶したパスワード</source>
        <translation> Remembered Passwords</translation>
    </message>
    <message>
        <source>記憶しているパスワード (新しい順)</source>
        <translation>Remembered passwords (newest first)</translation>
    </message>
    <message>
        <source>記憶しているパスワードはありません</source>
        <translation>No passwords are remembered</translation>
    </message>
    <message>
        <source>デスクトップのキーリングが動いていないため、
パスワードを記憶できません</source>
        <translation>The desktop&apos;s keyring is not running,
so passwords cannot be remembered</translation>
    </message>
    <message>
        <source>削除(&amp;D)</source>
        <translation>&amp;Delete</translation>
    </message>
    <message>
        <source>閉じる(&amp;C)</source>
        <translation>&amp;Close</translation>
    </message>
    <message>
        <source>パスワードを削除できませんでした</source>
        <translation>Could not delete the password</translation>
    </message>
</context>
<context>
    <name>frmProgress</name>
    <message>
        <source>変換中...</source>
        <translation>Extracting...</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>中止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>解凍を中止しますか？</source>
        <translation>Stop extracting?</translation>
    </message>
    <message>
        <source>現在準備中です...</source>
        <translation>Preparing...</translation>
    </message>
    <message>
        <source>現在解凍中です...</source>
        <translation>Extracting...</translation>
    </message>
    <message>
        <source>解凍が終了しました</source>
        <translation>Extraction finished</translation>
    </message>
    <message>
        <source>解凍を中止しました</source>
        <translation>Extraction stopped</translation>
    </message>
    <message>
        <source>別の名前にする</source>
        <translation>Use Another Name</translation>
    </message>
    <message>
        <source>この書庫を飛ばす</source>
        <translation>Skip This Archive</translation>
    </message>
    <message>
        <source>現在解凍中です...
/Ágy/書庫.zip

0 / 0</source>
        <translation>Extracting...
/Ágy/書庫.zip

0 / 0</translation>
    </message>
    <message>
        <source>残り 約 59 分 59 秒 (999.9 MB/秒)</source>
        <translation>About 59 min 59 s left (999.9 MB/s)</translation>
    </message>
</context>
<context>
    <name>frmResults</name>
    <message>
        <source>解凍結果</source>
        <translation>Extraction Results</translation>
    </message>
    <message>
        <source>解凍しました</source>
        <translation>Extracted</translation>
    </message>
    <message>
        <source>解凍できませんでした</source>
        <translation>Not extracted</translation>
    </message>
    <message>
        <source>長すぎる名前を短くして解凍しました (%1 個の名前)</source>
        <translation>Names too long were shortened (%1)</translation>
    </message>
    <message>
        <source>中の書庫を解凍しました (%1 個)</source>
        <translation>Inner archives extracted (%1)</translation>
    </message>
    <message>
        <source>中の書庫を解凍できませんでした (%1 個)</source>
        <translation>Inner archives not extracted (%1)</translation>
    </message>
    <message>
        <source>書庫ファイルをごみ箱に移しました</source>
        <translation>Archive moved to the trash</translation>
    </message>
    <message>
        <source>、</source>
        <translation>; </translation>
    </message>
    <message>
        <source>解凍先を開く</source>
        <translation>Open Destination</translation>
    </message>
    <message>
        <source>失敗した書庫をリストに戻す</source>
        <translation>Put Failed Archives Back in the List</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>コピー</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>すべて選択</source>
        <translation>Select All</translation>
    </message>
    <message>
        <source>解凍先のフォルダを開けませんでした

%1</source>
        <translation>Could not open the destination folder

%1</translation>
    </message>
    <message>
        <source>書庫ファイル</source>
        <translation>Archive</translation>
    </message>
    <message>
        <source>結果</source>
        <translation>Result</translation>
    </message>
    <message>
        <source>詳細</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>解凍先</source>
        <translation>Destination</translation>
    </message>
</context>
<context>
    <name>frmVersion</name>
    <message>
        <source>バージョン情報</source>
        <translation>About Tenvo</translation>
    </message>
    <message>
        <source>書庫ファイル一括解凍ユーティリティ</source>
        <translation>Batch extraction utility for archive files</translation>
    </message>
    <message>
        <source>本ソフトウェアは無保証です</source>
        <translation>This software comes with no warranty</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>ウィンドウを表示するライブラリを読み込めません: %1</source>
        <translation>Cannot load the library that shows the window: %1</translation>
    </message>
</context>
<context>
    <name>module1</name>
    <message>
        <source>対応する形式はありません</source>
        <translation>No supported formats</translation>
    </message>
    <message>
        <source> 対応する形式(</source>
        <translation> Supported formats(</translation>
    </message>
</context>
</TS>
